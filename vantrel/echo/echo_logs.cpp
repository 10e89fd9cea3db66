#include "echo_logs.h"

#include "fmtx.h"
#include "texts.h"

namespace vantrel::echo {

namespace {

int FirstRowOffset(uint64_t streamOffset, int32_t rowWidth) {
    return static_cast<int>(streamOffset % static_cast<uint64_t>(rowWidth));
}

}  // namespace

const char* EchoLogs::Open(const char* outName, const char* inName, bool append) {
    if (!out.Open(outName, append, kEchoLogBufferBytes))
        return outName;
    if (!in.Open(inName, append, kEchoLogBufferBytes)) {
        out.Close();
        return inName;
    }
    return nullptr;
}

void EchoLogs::FlushBoth() {
    if (out.IsOpen())
        out.Flush();
    if (in.IsOpen())
        in.Flush();
}

void EchoLogs::CloseBoth() {
    if (out.IsOpen())
        out.Close();
    if (in.IsOpen())
        in.Close();
}

void LogChunkEntry(log::LogFile& file, uint64_t index, uint32_t size, const char* note,
                   uint64_t streamOffset, int32_t rowWidth, const uint8_t* bytes) {
    FmtxFnRec stamp;
    fmtx_fn_rec_init(&stamp, log::LogStampText, 0);
    fmtx_cb_printf(log::LogFile::WritePiece, &file,
                   "[%F] #%llu: %d bytes: %s\r\n%k%0.*R%t%4.0v%*m.\r\n\r\n", &stamp,
                   static_cast<unsigned long long>(index), static_cast<int>(size), note, " ",
                   FirstRowOffset(streamOffset, rowWidth), rowWidth, ".", streamOffset,
                   static_cast<int>(size), bytes);
}

void PrintDump(uint64_t streamOffset, int32_t rowWidth, uint32_t count, const uint8_t* bytes) {
    fmtx_printf("%k%0.*R%t%4.0v%*m\n", " ", FirstRowOffset(streamOffset, rowWidth), rowWidth, ".",
                streamOffset, static_cast<int>(count), bytes);
}

bool WritePartialDump(uint32_t chunkId, uint32_t requested, uint32_t received,
                      uint64_t streamOffset, int32_t rowWidth, const uint8_t* bytes) {
    log::LogFile file;
    if (!file.Open(kPartialLogName, false, kPartialLogBufferBytes))
        return false;
    FmtxFnRec stamp;
    fmtx_fn_rec_init(&stamp, log::LocalTimeText, 1);
    fmtx_cb_printf(log::LogFile::WritePiece, &file,
                   "[%F]\r\n@Chunk %u: Requesting %d bytes, received %d bytes.\r\n\r\n", &stamp,
                   chunkId, static_cast<int>(requested), static_cast<int>(received));
    fmtx_cb_printf(log::LogFile::WritePiece, &file, "%k%0.*R%t%4.0v%*m\r\n", " ",
                   FirstRowOffset(streamOffset, rowWidth), rowWidth, ".", streamOffset,
                   static_cast<int>(received), bytes);
    return file.Close();
}

}  // namespace vantrel::echo
