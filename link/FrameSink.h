#pragma once
#include "link/Frame.h"

namespace bv {

// Receives a copy of every frame record that passes a link: the bus monitor
// and the bus traffic log implement it; the links hold plain pointers to them
// (whoever wires the program keeps the sinks alive longer than the links).
class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    virtual void onFrame(const FRAME& record) = 0;
    // A received record whose check failed: shown and logged, never an answer.
    virtual void onCheckFailedFrame(const FRAME& record) { onFrame(record); }
};

} // namespace bv
