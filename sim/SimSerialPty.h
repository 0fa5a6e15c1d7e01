#pragma once
#include <atomic>
#include <string>

namespace bv::sim {

class SimBus;

// The simulated adapter on a pseudo-terminal: a program opens the slave side
// as its serial port; every byte it writes goes on the simulated bus (and is
// echoed from there), every byte the bus brings is written back to it.
class SimPtyAdapter {
public:
    explicit SimPtyAdapter(SimBus& bus);
    ~SimPtyAdapter();
    SimPtyAdapter(const SimPtyAdapter&) = delete;
    SimPtyAdapter& operator=(const SimPtyAdapter&) = delete;

    // Creates the pseudo-terminal; false with the reason in *error.
    bool open(std::string* error);
    const std::string& slavePath() const { return m_slavePath; }

    // One round: waits at most timeoutMs for bytes from the program (less when
    // the bus has a byte due sooner), moves them onto the bus, and hands over
    // every byte that has arrived. False when the terminal failed.
    bool pump(int timeoutMs);
    // Pumps until stop becomes true.
    void run(const std::atomic<bool>& stop);
    void close();

private:
    bool writeAll(const unsigned char* bytes, size_t count);

    SimBus& m_bus;
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up
    std::string m_slavePath;
};

} // namespace bv::sim
