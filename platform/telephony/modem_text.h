// What the provider reads: its configuration file and the modem's result lines (result codes,
// connect rates, caller-ID fields). Pure text handling, no I/O besides reading the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ovtapi {

struct DeviceConfig {
    std::string path;
    std::string name;
    std::string init; // extra AT command line sent after ATZ; may be empty
};

struct Settings {
    std::string lockDir = "/var/lock";
    int guardMs = 1000;          // silence around "+++"
    int commandTimeoutMs = 3000; // per initialisation command
    int initRetryMs = 30000;     // next try after a failed initialisation
    int answerTimeoutMs = 60000; // ATA until CONNECT
    int ringTimeoutMs = 10000;   // no RING for this long: the caller gave up
    int callerIdWaitMs = 500;    // quiet time that ends a caller-ID block
    unsigned speed = 115200;
};

struct ProviderConfig {
    std::vector<DeviceConfig> devices;
    Settings settings;
    std::vector<std::string> problems; // lines that were skipped, for the diagnostics
};

// Parses the text of ovtapi.conf (see README.md). Never fails: bad lines are skipped and noted.
ProviderConfig parseConfig(const std::string& text);
// OVTAPI_CONF, else /etc/ovtapi.conf; a missing file gives no devices. OVTAPI_LOCKDIR wins.
ProviderConfig loadConfig();

// Collects bytes into lines (CR or LF ends one); control bytes are dropped and a line is cut
// at 255 bytes, so a flood of garbage never grows memory.
class LineAssembler {
public:
    // Returns a finished line (possibly empty) when c ends one.
    std::optional<std::string> feed(char c);
    bool empty() const { return line_.empty(); }
    void clear() { line_.clear(); }

private:
    std::string line_;
};

enum class ResultKind {
    Other, // garbage, echo of our commands, anything unknown
    Ok,
    Error,
    Ring,
    Connect,
    Carrier,
    NoCarrier,
    Busy,
    NoAnswer,
    NoDialtone,
    CallerIdField,
};

struct ModemLine {
    ResultKind kind = ResultKind::Other;
    uint32_t rate = 0; // Connect (0: bare CONNECT), Carrier
    std::string field; // CallerIdField: "NMBR", "NAME", "DATE", "TIME", ...
    std::string value; // CallerIdField, trimmed
};

ModemLine classifyLine(const std::string& line);

constexpr size_t kCallerIdMax = 63;

// The caller identification gathered between the rings.
struct CallerId {
    std::string number;
    std::string name;
    bool numberSeen = false;
    bool nameSeen = false;
    bool complete() const { return numberSeen && nameSeen; }
    bool any() const { return numberSeen || nameSeen; }
    // Takes NMBR/NAME (and their DDN_ forms); other fields are ignored.
    void take(const ModemLine& line);
    uint32_t partyIdFlags() const; // LINECALLPARTYID_*
};

// Drops control bytes and cuts to kCallerIdMax bytes.
std::string cleanCallerIdText(const std::string& text);

} // namespace ovtapi
