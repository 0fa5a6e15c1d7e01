#include "net/ScpiSession.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "devices/MeterModel.h"
#include "devices/PowerMeter.h"

namespace bv {

namespace {

enum class Op {
    Power, Flow, Temperature, All, Statistics, Questionable, Error, ErrorCount, Version, Shutter,
    Start, Stop, Zero,
};

// The tree: long forms with the short form in capitals, optional nodes in brackets.
struct Entry {
    const char* pattern;
    bool query;
    Op op;
};
constexpr Entry kTree[] = {
    {"MEASure[:SCALar]:POWer[:DC]", true, Op::Power},
    {"READ[:SCALar]:POWer[:DC]", true, Op::Power},
    {"FETCh[:SCALar]:POWer[:DC]", true, Op::Power},
    {"FETCh:FLOW", true, Op::Flow},
    {"FETCh:TEMPerature", true, Op::Temperature},
    {"FETCh:ALL", true, Op::All},
    {"FETCh:STATistics", true, Op::Statistics},
    {"STATus:QUEStionable:CONDition", true, Op::Questionable},
    {"SYSTem:ERRor[:NEXT]", true, Op::Error},
    {"SYSTem:ERRor:COUNt", true, Op::ErrorCount},
    {"SYSTem:VERSion", true, Op::Version},
    {"OUTPut:SHUTter", true, Op::Shutter},
    {"OUTPut:SHUTter", false, Op::Shutter},
    {"INITiate[:IMMediate]", false, Op::Start},
    {"ABORt", false, Op::Stop},
    {"[SENSe]:CORRection:ZERO[:IMMediate]", false, Op::Zero},
};

struct Node {
    std::string longForm, shortForm;  // both in capitals
    bool optional = false;
};

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::vector<Node> compile(const char* pattern)
{
    std::vector<Node> nodes;
    const std::string p = pattern;
    size_t i = 0;
    while (i < p.size()) {
        bool optional = false;
        if (p[i] == '[') {
            optional = true;
            ++i;
        }
        if (i < p.size() && p[i] == ':')
            ++i;
        size_t end = i;
        while (end < p.size() && p[end] != ':' && p[end] != '[' && p[end] != ']')
            ++end;
        const std::string name = p.substr(i, end - i);
        Node n;
        n.longForm = upper(name);
        for (char c : name) {
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
                break;
            n.shortForm += c;
        }
        n.optional = optional;
        nodes.push_back(n);
        i = end;
        if (i < p.size() && p[i] == ']')
            ++i;
    }
    return nodes;
}

const std::vector<std::vector<Node>>& compiledTree()
{
    static const std::vector<std::vector<Node>> tree = [] {
        std::vector<std::vector<Node>> t;
        for (const Entry& e : kTree)
            t.push_back(compile(e.pattern));
        return t;
    }();
    return tree;
}

bool matches(const std::vector<std::string>& input, size_t i, const std::vector<Node>& pattern, size_t j)
{
    if (j == pattern.size())
        return i == input.size();
    const Node& n = pattern[j];
    if (i < input.size() && (input[i] == n.longForm || input[i] == n.shortForm) &&
        matches(input, i + 1, pattern, j + 1))
        return true;
    return n.optional && matches(input, i, pattern, j + 1);
}

const Entry* lookUp(const std::vector<std::string>& nodes, bool query)
{
    const auto& tree = compiledTree();
    for (size_t k = 0; k < tree.size(); ++k)
        if (kTree[k].query == query && matches(nodes, 0, tree[k], 0))
            return &kTree[k];
    return nullptr;
}

// What the log and the error queue may repeat of a client's text: printable,
// short, and never a quote that would end the answer's string.
std::string shown(const std::string& text)
{
    std::string s;
    for (char c : text) {
        if (s.size() >= 32) {
            s += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        s += u < 0x20 || u == 0x7F || c == '"' ? '?' : c;
    }
    return s;
}

const char* errorText(int number)
{
    switch (number) {
    case scpi::kNoError: return "No error";
    case scpi::kCommandError: return "Command error";
    case scpi::kParameterNotAllowed: return "Parameter not allowed";
    case scpi::kMissingParameter: return "Missing parameter";
    case scpi::kUndefinedHeader: return "Undefined header";
    case scpi::kSettingsConflict: return "Settings conflict";
    case scpi::kIllegalParameterValue: return "Illegal parameter value";
    case scpi::kDataStale: return "Data corrupt or stale";
    case scpi::kQueueOverflow: return "Queue overflow";
    default: return "Error";
    }
}

std::string trimmed(const std::string& s)
{
    const auto from = s.find_first_not_of(" \t");
    if (from == std::string::npos)
        return {};
    return s.substr(from, s.find_last_not_of(" \t") - from + 1);
}

// Locale-free, so a German window answers with a point too.
std::string decimal(double value)
{
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
    return std::string(buffer, r.ptr);
}

const char* shutterWord(int32_t state)
{
    switch (state) {
    case kShutterOpen: return "OPEN";
    case kShutterClosed: return "CLOS";
    case kShutterError: return "ERR";
    case kShutterNone: return "NONE";
    default: return "UNKN";
    }
}

} // namespace

ScpiSession::ScpiSession(bool acceptCommands, std::string version)
    : m_acceptCommands(acceptCommands), m_version(std::move(version))
{
}

void ScpiSession::receive(const char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (!m_partial.empty() && m_partial.back() == '\r')
                m_partial.pop_back();
            if (m_overlong)
                pushError(scpi::kCommandError, "line longer than " + std::to_string(kMaxLine) + " bytes");
            else
                m_lines.push_back(std::move(m_partial));
            m_partial.clear();
            m_overlong = false;
        } else if (!m_overlong) {
            m_partial += c;
            // "\r" before the "\n" does not count.
            if (m_partial.size() > kMaxLine + 1 || (m_partial.size() > kMaxLine && c != '\r')) {
                m_overlong = true;
                m_partial.clear();
            }
        }
    }
}

void ScpiSession::run(const ReadingSnapshot& snapshot, std::string& out)
{
    while (!m_pending) {
        if (m_units.empty()) {
            if (m_lines.empty())
                return;
            // Split at ';' outside quotes.
            const std::string line = std::move(m_lines.front());
            m_lines.pop_front();
            m_path.clear();
            m_answers.clear();
            std::string unit;
            char quote = 0;
            auto take = [&] {
                const std::string text = trimmed(unit);
                unit.clear();
                if (text.empty())
                    return;
                Unit u;
                const auto space = text.find_first_of(" \t");
                u.header = text.substr(0, space);
                u.parameters = space == std::string::npos ? std::string() : trimmed(text.substr(space));
                u.query = !u.header.empty() && u.header.back() == '?';
                if (u.query)
                    u.header.pop_back();
                m_units.push_back(std::move(u));
            };
            for (char c : line) {
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == ';') {
                    take();
                    continue;
                }
                unit += c;
            }
            take();
            if (m_units.empty())
                continue;
        }
        const Unit unit = std::move(m_units.front());
        m_units.pop_front();
        m_staleReported = false;
        execute(unit, snapshot);
        if (m_units.empty() && !m_answers.empty()) {
            for (size_t i = 0; i < m_answers.size(); ++i)
                out += (i ? ";" : "") + m_answers[i];
            out += '\n';
            m_answers.clear();
        }
    }
}

void ScpiSession::commandDone(const CommandOutcome& outcome)
{
    m_pending.reset();
    if (outcome.refused())
        pushError(scpi::kSettingsConflict, outcome.text.empty() ? "refused" : outcome.text);
}

std::optional<std::string> ScpiSession::takeFirstComplaint()
{
    std::optional<std::string> c;
    c.swap(m_firstComplaint);
    return c;
}

void ScpiSession::pushError(int number, const std::string& detail)
{
    // A stale reading is the meter's doing, not the client's.
    if (!m_complained && number != scpi::kDataStale) {
        m_complained = true;
        m_firstComplaint = std::to_string(number) + " " + errorText(number) + (detail.empty() ? "" : ": " + shown(detail));
    }
    // A full queue keeps its oldest errors and says that it overflowed.
    if (m_errors.size() >= kErrorQueueSize) {
        m_errors.back() = {scpi::kQueueOverflow, {}};
        return;
    }
    m_errors.emplace_back(number, detail);
}

void ScpiSession::answer(const std::string& text) { m_answers.push_back(text); }

bool ScpiSession::stale(const ReadingSnapshot& s)
{
    if (s.current)
        return false;
    if (!m_staleReported)
        pushError(scpi::kDataStale, s.anyValid ? "no current reading" : "no reading yet");
    m_staleReported = true;
    return true;
}

std::string ScpiSession::number(double value, const ReadingSnapshot& s)
{
    if (stale(s) || !std::isfinite(value))
        return scpi::kNotANumber;
    return decimal(value);
}

bool ScpiSession::execute(const Unit& unit, const ReadingSnapshot& s)
{
    const std::string header = upper(unit.header);
    if (header.empty()) {
        pushError(scpi::kCommandError, "no header");
        return true;
    }
    if (header[0] == '*') {
        if (!unit.parameters.empty()) {
            pushError(scpi::kParameterNotAllowed, shown(unit.header));
        } else if (header == "*IDN" && unit.query) {
            const char* model = s.model ? meterModel(static_cast<MeterKind>(s.model - 1)).name : "none";
            answer(std::string("BrivaneSoftware,") + model + "," + std::to_string(s.address) + "," + m_version);
        } else if (header == "*CLS" && !unit.query) {
            m_errors.clear();
        } else if (header == "*RST" && !unit.query) {
            // This connection's state only: a reset from a script never stops a measurement.
            m_path.clear();
        } else if (header == "*OPC" && unit.query) {
            // Commands run in order and this one waited for them.
            answer("1");
        } else if ((header == "*OPC" || header == "*WAI") && !unit.query) {
        } else {
            pushError(scpi::kUndefinedHeader, shown(unit.header) + (unit.query ? "?" : ""));
        }
        return true;
    }
    std::vector<std::string> nodes;
    const bool absolute = header[0] == ':';
    size_t at = absolute ? 1 : 0;
    while (true) {
        const auto colon = header.find(':', at);
        nodes.push_back(header.substr(at, colon == std::string::npos ? std::string::npos : colon - at));
        if (colon == std::string::npos)
            break;
        at = colon + 1;
    }
    const Entry* entry = nullptr;
    std::vector<std::string> full = nodes;
    if (std::none_of(nodes.begin(), nodes.end(), [](const std::string& n) { return n.empty(); })) {
        if (!absolute && !m_path.empty()) {
            full = m_path;
            full.insert(full.end(), nodes.begin(), nodes.end());
            entry = lookUp(full, unit.query);
        }
        if (!entry) {
            full = nodes;
            entry = lookUp(full, unit.query);
        }
    }
    if (!entry) {
        pushError(scpi::kUndefinedHeader, shown(unit.header) + (unit.query ? "?" : ""));
        return true;
    }
    m_path.assign(full.begin(), full.end() - 1);
    const bool takesParameter = entry->op == Op::Shutter && !entry->query;
    if (!takesParameter && !unit.parameters.empty()) {
        pushError(scpi::kParameterNotAllowed, shown(unit.header));
        return true;
    }
    switch (entry->op) {
    case Op::Power: answer(number(s.power, s)); break;
    case Op::Flow: answer(number(s.flow, s)); break;
    case Op::Temperature: {
        const std::string te = number(s.te, s);
        answer(te + "," + number(s.td, s));
        break;
    }
    case Op::All: {
        std::string time = scpi::kNotANumber;
        if (s.timeMs > 0) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(s.timeMs / 1000),
                          static_cast<long long>(s.timeMs % 1000));
            time = buffer;
        }
        const std::string power = number(s.power, s);
        answer(time + "," + power + "," + number(s.flow, s) + "," + number(s.te, s) + "," + number(s.td, s) + "," +
               shutterWord(s.shutterState) + "," + (s.current ? "1" : "0"));
        break;
    }
    case Op::Statistics: {
        const bool none = stale(s) || s.stats.count == 0;
        auto value = [&](double v) { return none ? std::string(scpi::kNotANumber) : decimal(v); };
        answer(std::to_string(none ? 0 : s.stats.count) + "," + value(s.stats.mean) + "," +
               value(s.stats.stdDeviation) + "," + value(s.stats.min) + "," + value(s.stats.max));
        break;
    }
    case Op::Questionable:
        answer(std::to_string((s.current ? 0 : scpi::kStale) | (s.noFlow ? scpi::kNoFlow : 0) |
                              (s.lowFlow ? scpi::kLowFlow : 0) | (s.shutterNotOpen ? scpi::kShutterNotOpen : 0) |
                              (s.linkUp ? 0 : scpi::kLinkLost)));
        break;
    case Op::Error: {
        int n = scpi::kNoError;
        std::string detail;
        if (!m_errors.empty()) {
            n = m_errors.front().first;
            detail = m_errors.front().second;
            m_errors.pop_front();
        }
        answer(std::to_string(n) + ",\"" + errorText(n) + (detail.empty() ? "" : ";" + shown(detail)) + "\"");
        break;
    }
    case Op::ErrorCount: answer(std::to_string(m_errors.size())); break;
    case Op::Version: answer("1999.0"); break;
    case Op::Shutter:
    case Op::Start:
    case Op::Stop:
    case Op::Zero: {
        if (entry->query) {
            answer(shutterWord(s.shutterState));
            break;
        }
        if (!m_acceptCommands) {
            pushError(scpi::kSettingsConflict, "commands are off");
            break;
        }
        MeterCommand command = MeterCommand::Start;
        if (entry->op == Op::Stop) {
            command = MeterCommand::Stop;
        } else if (entry->op == Op::Zero) {
            command = MeterCommand::Zero;
        } else if (entry->op == Op::Shutter) {
            const std::string word = upper(unit.parameters);
            if (word.empty()) {
                pushError(scpi::kMissingParameter, "OPEN or CLOSe");
                break;
            }
            if (word == "OPEN") {
                command = MeterCommand::OpenShutter;
            } else if (word == "CLOS" || word == "CLOSE") {
                command = MeterCommand::CloseShutter;
            } else {
                pushError(scpi::kIllegalParameterValue, shown(unit.parameters));
                break;
            }
        }
        m_pending = command;
        return false;
    }
    }
    return true;
}

} // namespace bv
