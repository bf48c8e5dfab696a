#include "log/log_write.h"

#include "log/log_file.h"

namespace orvane {

namespace {

class StreamSink final : public FormatSink {
public:
    explicit StreamSink(LogStream& target) : stream(target) {}
    void Put(const char16_t* units, std::uint32_t count) override { stream.Write(units, count); }

private:
    LogStream& stream;
};

}  // namespace

void LogWriteList(const char16_t* format, const FormatArg* args, std::uint32_t argCount) {
    if (logStream == nullptr || !logStream->IsOpen()) {
        return;
    }
    StreamSink sink(*logStream);
    FormatTo(sink, format, args, argCount);
    logStream->Write(u"\n", 1);
    // One flush per message: each line is in the file, readable by others, when this returns.
    logStream->Flush();
}

}  // namespace orvane
