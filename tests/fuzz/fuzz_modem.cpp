// A modem's arbitrary output through the provider's line assembly, result-code and caller-ID
// parsing, and arbitrary text as its configuration file: bounded lines, known kinds only.
#include "fuzz_common.h"
#include "platform/telephony/modem_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    ovtapi::LineAssembler lines;
    ovtapi::CallerId caller;
    for (size_t i = 0; i < size; ++i) {
        auto line = lines.feed(static_cast<char>(data[i]));
        if (!line) continue;
        fuzz::check(line->size() <= 255);
        for (unsigned char c : *line)
            fuzz::check(c >= 0x20);
        ovtapi::ModemLine parsed = ovtapi::classifyLine(*line);
        fuzz::check(parsed.kind >= ovtapi::ResultKind::Other &&
                    parsed.kind <= ovtapi::ResultKind::CallerIdField);
        if (parsed.kind != ovtapi::ResultKind::Connect &&
            parsed.kind != ovtapi::ResultKind::Carrier)
            fuzz::check(parsed.rate == 0);
        caller.take(parsed);
        fuzz::check(caller.number.size() <= ovtapi::kCallerIdMax &&
                    caller.name.size() <= ovtapi::kCallerIdMax);
        (void)caller.partyIdFlags();
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string clean = ovtapi::cleanCallerIdText(text);
    fuzz::check(clean.size() <= ovtapi::kCallerIdMax);
    ovtapi::ProviderConfig config = ovtapi::parseConfig(text);
    for (const auto& device : config.devices)
        fuzz::check(!device.path.empty());
    return 0;
}
