#pragma once
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace bv {

class CDevice;
class IPrompt;
class ProgramSettings;

// "Settings Brivane": the meter's bus address and the deviation limit of the
// electronic calibration. There is deliberately no Cancel button; closing the
// window changes nothing.
class DeviceSettingsDialog : public QDialog {
    Q_OBJECT
public:
    enum { kIdd = 138, kIdAddress = 1106, kIdDeviation = 1230 };
    DeviceSettingsDialog(CDevice& device, ProgramSettings& settings, QWidget* parent = nullptr);

    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* deviationEdit() const { return m_deviation; }
    // What OK does; public so the window and tests can drive it.
    void onOk();

    static std::string addressText(uint8_t address);
    static std::string deviationText(double limit);

private:
    CDevice& m_device;
    ProgramSettings& m_settings;
    QLineEdit* m_address;
    QLineEdit* m_deviation;
};

// "Protocol": the protocol file and the data source, with their switches.
class ProtocolDialog : public QDialog {
    Q_OBJECT
public:
    enum {
        kIdd = 166,
        kIdFileWrite = 1006,
        kIdFileName = 1057,
        kIdDbWrite = 1053,
        kIdSource = 1054,
        kIdUser = 1055,
        kIdPassword = 1056,
        kIdBrowse = 1052,
    };
    // device may be null: the dialog then stores nothing.
    ProtocolDialog(CDevice* device, IPrompt& prompt, QWidget* parent = nullptr);

    QCheckBox* fileWrite() const { return m_fileWrite; }
    QLineEdit* fileName() const { return m_fileName; }
    QCheckBox* databaseWrite() const { return m_dbWrite; }
    QLineEdit* sourceName() const { return m_source; }
    QLineEdit* userName() const { return m_user; }
    QLineEdit* password() const { return m_password; }
    QPushButton* browseButton() const { return m_browse; }

    void applyEnableRule();
    // True when the fields were stored and the dialog closed.
    bool onOk();
    void onBrowse();

private:
    CDevice* m_device;
    IPrompt& m_prompt;
    QCheckBox* m_fileWrite;
    QLineEdit* m_fileName;
    QPushButton* m_browse;
    QCheckBox* m_dbWrite;
    QLineEdit* m_source;
    QLineEdit* m_user;
    QLineEdit* m_password;
};

} // namespace bv
