<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>bv::AboutDialog</name>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>%1 Version %2</source>
        <translation>%1 Version %2</translation>
    </message>
    <message>
        <source>Created :</source>
        <translation>Erstellt :</translation>
    </message>
    <message>
        <source>For Linux and Windows</source>
        <translation>Für Linux und Windows</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>bv::CBrivaneMain</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation>&amp;Einstellungen...</translation>
    </message>
    <message>
        <source>&amp;Protocol...</source>
        <translation>&amp;Protokoll...</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Measurement</source>
        <translation>&amp;Messung</translation>
    </message>
    <message>
        <source>&amp;Start/Stop</source>
        <translation>&amp;Start/Stopp</translation>
    </message>
    <message>
        <source>&amp;Use current value as offset</source>
        <translation>Aktuellen Wert als Offset &amp;übernehmen</translation>
    </message>
    <message>
        <source>&amp;Zero level</source>
        <translation>&amp;Nullpunkt</translation>
    </message>
    <message>
        <source>&amp;Alarm log...</source>
        <translation>&amp;Alarmprotokoll...</translation>
    </message>
    <message>
        <source>&amp;Communication</source>
        <translation>&amp;Kommunikation</translation>
    </message>
    <message>
        <source>&amp;Free communication...</source>
        <translation>&amp;Freie Kommunikation...</translation>
    </message>
    <message>
        <source>&amp;Info</source>
        <translation>&amp;Info</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>Ü&amp;ber...</translation>
    </message>
    <message>
        <source>Control</source>
        <translation>Steuerung</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Aktuell</translation>
    </message>
    <message>
        <source>Min</source>
        <translation>Min</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>Mittelwert</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Zero level</source>
        <translation>Nullpunkt</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
    <message>
        <source>Use current value as offset</source>
        <translation>Aktuellen Wert als Offset übernehmen</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>Skala</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Leistung</translation>
    </message>
    <message>
        <source>Flow rate</source>
        <translation>Durchfluss</translation>
    </message>
    <message>
        <source>Tin</source>
        <translation>Tein</translation>
    </message>
    <message>
        <source>T diff</source>
        <translation>T Diff</translation>
    </message>
    <message>
        <source>EC Power</source>
        <translation>EC-Leistung</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Power scale</source>
        <translation>Leistungsskala</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Time : Frequency</source>
        <translation>Zeit : Frequenz</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Protocol...</source>
        <translation>Protokoll...</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Communication</source>
        <translation>Kommunikation</translation>
    </message>
    <message>
        <source>Free communication...</source>
        <translation>Freie Kommunikation...</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
</context>
<context>
    <name>bv::CFreeComm</name>
    <message>
        <source>Free Communication</source>
        <translation>Freie Kommunikation</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>Seriell</translation>
    </message>
    <message>
        <source>USB2Serial</source>
        <translation>USB2Seriell</translation>
    </message>
    <message>
        <source>Parity</source>
        <translation>Parität</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Com port:</source>
        <translation>Com-Port:</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Command:</source>
        <translation>Befehl:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>Von:</translation>
    </message>
    <message>
        <source>To:</source>
        <translation>An:</translation>
    </message>
    <message>
        <source>Hex:</source>
        <translation>Hex:</translation>
    </message>
    <message>
        <source>Bus monitor</source>
        <translation>Busmonitor</translation>
    </message>
</context>
<context>
    <name>bv::DeviceSettingsDialog</name>
    <message>
        <source>Settings Brivane</source>
        <translation>Einstellungen Brivane</translation>
    </message>
    <message>
        <source>Device adress:</source>
        <translation>Geräteadresse:</translation>
    </message>
    <message>
        <source>Deviation Limit (EC):</source>
        <translation>Abweichungsgrenze (EC):</translation>
    </message>
</context>
<context>
    <name>bv::PortDialog</name>
    <message>
        <source>Select port</source>
        <translation>Port wählen</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Com 1</source>
        <translation>Com 1</translation>
    </message>
    <message>
        <source>Com 2</source>
        <translation>Com 2</translation>
    </message>
    <message>
        <source>Com 3</source>
        <translation>Com 3</translation>
    </message>
    <message>
        <source>Com 4</source>
        <translation>Com 4</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>bv::ProtocolDialog</name>
    <message>
        <source>Write</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Log File</source>
        <translation>Protokolldatei</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Dateiname:</translation>
    </message>
    <message>
        <source>Database</source>
        <translation>Datenbank</translation>
    </message>
    <message>
        <source>Source Name:</source>
        <translation>Datenquelle:</translation>
    </message>
    <message>
        <source>User Name:</source>
        <translation>Benutzername:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
</context>
<context>
    <name>bv::CExportCommands</name>
    <message>
        <source>S&amp;tatistics</source>
        <translation>S&amp;tatistik</translation>
    </message>
    <message>
        <source>&amp;Export points as CSV...</source>
        <translation>Messpunkte als CSV &amp;exportieren...</translation>
    </message>
    <message>
        <source>Export &amp;stored points as CSV...</source>
        <translation>&amp;Gespeicherte Messpunkte als CSV exportieren...</translation>
    </message>
    <message>
        <source>Export stored points as CSV</source>
        <translation>Gespeicherte Messpunkte als CSV exportieren</translation>
    </message>
    <message>
        <source>From</source>
        <translation>Von</translation>
    </message>
    <message>
        <source>To</source>
        <translation>Bis</translation>
    </message>
    <message>
        <source>The stored points could not be exported.</source>
        <translation>Die gespeicherten Messpunkte konnten nicht exportiert werden.</translation>
    </message>
    <message>
        <source>There is no history.</source>
        <translation>Es gibt keinen Verlauf.</translation>
    </message>
    <message>
        <source>Save plots as P&amp;NG...</source>
        <translation>Diagramme als P&amp;NG speichern...</translation>
    </message>
    <message>
        <source>Save plots as P&amp;DF...</source>
        <translation>Diagramme als P&amp;DF speichern...</translation>
    </message>
    <message>
        <source>Save &amp;calibration report</source>
        <translation>&amp;Kalibrierprotokoll speichern</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>Export points as CSV...</source>
        <translation>Messpunkte als CSV exportieren...</translation>
    </message>
    <message>
        <source>Save plots as PNG...</source>
        <translation>Diagramme als PNG speichern...</translation>
    </message>
    <message>
        <source>Save plots as PDF...</source>
        <translation>Diagramme als PDF speichern...</translation>
    </message>
    <message>
        <source>Save calibration report</source>
        <translation>Kalibrierprotokoll speichern</translation>
    </message>
    <message>
        <source>Statistics of the points in view</source>
        <translation>Statistik der angezeigten Messpunkte</translation>
    </message>
    <message>
        <source>Points: %1</source>
        <translation>Messpunkte: %1</translation>
    </message>
    <message>
        <source>Mean: %1</source>
        <translation>Mittelwert: %1</translation>
    </message>
    <message>
        <source>Std. deviation: %1</source>
        <translation>Standardabweichung: %1</translation>
    </message>
    <message>
        <source>Min: %1</source>
        <translation>Min: %1</translation>
    </message>
    <message>
        <source>Max: %1</source>
        <translation>Max: %1</translation>
    </message>
    <message>
        <source>From: %1</source>
        <translation>Von: %1</translation>
    </message>
    <message>
        <source>To: %1</source>
        <translation>Bis: %1</translation>
    </message>
    <message>
        <source>Time span: %1</source>
        <translation>Zeitspanne: %1</translation>
    </message>
    <message>
        <source>The points could not be exported.</source>
        <translation>Die Messpunkte konnten nicht exportiert werden.</translation>
    </message>
    <message>
        <source>The plots could not be saved.</source>
        <translation>Die Diagramme konnten nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>Plots</source>
        <translation>Diagramme</translation>
    </message>
    <message>
        <source>Export points as CSV</source>
        <translation>Messpunkte als CSV exportieren</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV-Dateien (*.csv)</translation>
    </message>
    <message>
        <source>Save plots as PNG</source>
        <translation>Diagramme als PNG speichern</translation>
    </message>
    <message>
        <source>PNG images (*.png)</source>
        <translation>PNG-Bilder (*.png)</translation>
    </message>
    <message>
        <source>Save plots as PDF</source>
        <translation>Diagramme als PDF speichern</translation>
    </message>
    <message>
        <source>PDF documents (*.pdf)</source>
        <translation>PDF-Dokumente (*.pdf)</translation>
    </message>
    <message>
        <source>Deviation Limit</source>
        <translation>Abweichungsgrenze</translation>
    </message>
    <message>
        <source>Time of thermalization</source>
        <translation>Thermalisierungszeit</translation>
    </message>
    <message>
        <source>cycles</source>
        <translation>Zyklen</translation>
    </message>
    <message>
        <source>Average period</source>
        <translation>Mittelungszeit</translation>
    </message>
    <message>
        <source>Interval</source>
        <translation>Messintervall</translation>
    </message>
    <message>
        <source>Zero level</source>
        <translation>Nullpunkt</translation>
    </message>
    <message>
        <source>Service technician</source>
        <translation>Servicetechniker</translation>
    </message>
    <message>
        <source>Company</source>
        <translation>Firma</translation>
    </message>
    <message>
        <source>There is no electronic calibration to report.</source>
        <translation>Es liegt keine elektronische Kalibrierung vor.</translation>
    </message>
    <message>
        <source>Run an electronic calibration first; the report takes its averages when the heater goes off.</source>
        <translation>Bitte zuerst eine elektronische Kalibrierung durchführen; das Protokoll übernimmt die Mittelwerte beim Abschalten der Heizung.</translation>
    </message>
    <message>
        <source>The calibration report could not be saved.</source>
        <translation>Das Kalibrierprotokoll konnte nicht gespeichert werden.</translation>
    </message>
</context>
<context>
    <name>bv::CalibrationReport</name>
    <message>
        <source>PASSED</source>
        <translation>BESTANDEN</translation>
    </message>
    <message>
        <source>FAILED</source>
        <translation>NICHT BESTANDEN</translation>
    </message>
    <message>
        <source>Calorimeter power</source>
        <translation>Kalorimeterleistung</translation>
    </message>
    <message>
        <source>EC power</source>
        <translation>EC-Leistung</translation>
    </message>
    <message>
        <source>Electronic calibration report</source>
        <translation>Protokoll der elektronischen Kalibrierung</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Adresse</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Calibration started</source>
        <translation>Beginn der Kalibrierung</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Average calorimeter power</source>
        <translation>Mittlere Kalorimeterleistung</translation>
    </message>
    <message>
        <source>Average EC power</source>
        <translation>Mittlere EC-Leistung</translation>
    </message>
    <message>
        <source>Voltage</source>
        <translation>Spannung</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Strom</translation>
    </message>
    <message>
        <source>EC points averaged</source>
        <translation>Gemittelte EC-Messpunkte</translation>
    </message>
    <message>
        <source>Deviation</source>
        <translation>Abweichung</translation>
    </message>
    <message>
        <source>Deviation Limit</source>
        <translation>Abweichungsgrenze</translation>
    </message>
    <message>
        <source>Verdict</source>
        <translation>Bewertung</translation>
    </message>
</context>
</TS>
