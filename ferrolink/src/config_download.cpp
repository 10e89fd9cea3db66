// The configuration download: batches of ordinary settings, then one final
// frame with the settings that change the link or the data format.
#include "config_download.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "ferrolink/tidestream/tidestream.h"
#include "log_source.h"
#include "op_record.h"
#include "split_text.h"

extern "C" {
int32_t g_nDeviceBufSize = 128;
void* g_pSaveType = nullptr;
int32_t g_nConfigErrorLen = 0;
}

namespace ferrolink_config {

// The parts refused during the last download, whole: the error text above is
// bounded and is emptied once the operation log has taken it.
std::string g_refusedParts;
ConfigProgressCallback g_progress = nullptr;
void* g_progressUser = nullptr;

namespace {

constexpr size_t kErrorCapacity = sizeof(g_szLastConfigError) - 1;

bool IsSkippedWhenEmpty(std::string_view name) {
    return name == "ALLENA" || name == "ALL1DC" || name == "ALL2DC" || name == "ALLPST" ||
           name == "APSENA";
}

// The held-back settings that the final frame carries, in the order it sends them.
constexpr std::array<std::string_view, 6> kLinkSlotsInFrameOrder = {"AUTOUR", "232BAD", "232STP",
                                                                    "232DAT", "232PAR", "INTERF"};

struct LineNumbers {
    int skip;
    int dataFormat;
};

LineNumbers LinesOf(DownloadForm form) {
    return form == DownloadForm::kUnified ? LineNumbers{4518, 4595} : LineNumbers{4285, 4366};
}

// Ordinary items gathered until the device's buffer is nearly full.
class Batch {
  public:
    void Add(const std::string& item) {
        if (count_ == 0) {
            text_ = item;
            groupHead_ = item;
        } else if (item.size() >= 3 && groupHead_.size() >= 3 &&
                   item.compare(0, 3, groupHead_, 0, 3) == 0) {
            text_ += ',';
            text_.append(item, 3);
        } else {
            text_ += ';';
            text_ += item;
            groupHead_ = item;
        }
        ++count_;
    }
    // A buffer size below 9 wraps to a huge bound, so it never flushes early.
    bool IsFull() const { return text_.size() > static_cast<uint32_t>(g_nDeviceBufSize) - 9u; }
    bool Empty() const { return count_ == 0; }
    const std::string& Text() const { return text_; }
    void Clear() {
        text_.clear();
        count_ = 0;
    }

  private:
    std::string text_;
    std::string groupHead_;
    int count_ = 0;
};

void CopyFrameToError(const std::string& frame) {
    const size_t n = std::min(std::strlen(frame.c_str()), kErrorCapacity);
    std::memcpy(g_szLastConfigError, frame.data(), n);
    g_szLastConfigError[n] = '\0';
}

// Appends the format texts of a DFMADD or DFMSET value ("1:X;2:Y;3:Z" gives "X;Y;").
void AddDataFormat(const std::string& name, const std::string& value, int logLine,
                   std::string* text) {
    std::vector<std::string> pieces = SplitText(value, ";");
    if (!pieces.empty())
        pieces.pop_back();
    for (const std::string& piece : pieces) {
        const std::vector<std::string> parts = SplitText(piece, ":");
        if (parts.size() >= 2)
            *text += parts[1] + ';';
    }
    if (!text->empty()) {
        logout_line(QVDS_LOG_TRACE, kLogSource, logLine, "%s=%s", "strDFM", text->c_str());
        *text = "DFMCAL;" + name + *text;
    } else {
        *text += "DFMCAL";
    }
}

std::string FinalText(DownloadForm form,
                      const std::map<std::string, std::string, std::less<>>& slots,
                      const std::string& listText, const std::string& dataFormat) {
    std::string text;
    for (std::string_view name : kLinkSlotsInFrameOrder) {
        const auto slot = slots.find(name);
        if (slot != slots.end())
            text += slot->second + ';';
    }
    text += listText;
    if (const auto slot = slots.find("KBWPOR"); slot != slots.end())
        text += slot->second + ';';
    if (!dataFormat.empty())
        text += dataFormat + ';';
    if (form == DownloadForm::kUnified) {
        text += g_pSaveType != nullptr ? ";CUSSAV" : ";";
    } else {
        text += "BASSFY;SAVEFY;BASRES";
    }
    return text;
}

bool IsLinkSlot(DownloadForm form, std::string_view name) {
    if (name == "AUTOUR")
        return form != DownloadForm::kUnified;
    return name == "INTERF" || name == "232BAD" || name == "232PAR" || name == "232STP" ||
           name == "232DAT" || name == "KBWPOR";
}

}  // namespace

std::string ConfigFrame(std::string_view text) {
    std::string frame(
        "\x7E\x01"
        "0000@");
    frame += text;
    frame += ";\x03";
    return frame;
}

bool DownloadConfigSet(const ConfigSetElements& elements, DownloadForm form,
                       const FrameSender& send) {
    ClearConfigError();
    const int total = static_cast<int>(elements.size());
    int handled = 0;
    auto report = [&](int done) {
        if (g_progress != nullptr)
            g_progress(done, total, g_progressUser);
    };
    report(0);
    const LineNumbers lines = LinesOf(form);
    Batch batch;
    std::map<std::string, std::string, std::less<>> slots;
    std::string listText;
    std::string dataFormat;

    auto flush = [&]() {
        const std::string frame = ConfigFrame(batch.Text());
        if (!send(frame)) {
            CopyFrameToError(frame);
            return false;
        }
        batch.Clear();
        return true;
    };

    for (const auto& [name, value] : elements) {
        ++handled;
        if (value.empty() && IsSkippedWhenEmpty(name)) {
            logout_line(QVDS_LOG_TRACE, kLogSource, lines.skip, "%s=%s", "Skip CommandName",
                        name.c_str());
            continue;
        }
        if (name == "DFMSIN")
            continue;
        const std::string item = name + value;
        if (IsLinkSlot(form, name)) {
            slots[name] = item;
            continue;
        }
        if (name == "232AFL" || name == "IMGROI") {
            listText += item + ';';
            continue;
        }
        if (name == "DFMADD" || name == "DFMSET") {
            AddDataFormat(name, value, lines.dataFormat, &dataFormat);
            continue;
        }
        batch.Add(item);
        if (batch.IsFull()) {
            if (!flush())
                return false;
            report(std::min(handled, total - 1));  // the final frame is still to go
        }
    }
    if (!batch.Empty() && !flush())
        return false;
    const bool ok = send(ConfigFrame(FinalText(form, slots, listText, dataFormat)));
    if (ok)
        report(total);
    return ok;
}

void ClearConfigError() {
    std::memset(g_szLastConfigError, 0, sizeof(g_szLastConfigError));
    g_nConfigErrorLen = 0;
    g_refusedParts.clear();
}

bool RecordRefusedParts(std::string_view reply) {
    std::vector<std::string> pieces = SplitText(std::string(reply), ";");
    std::erase_if(pieces, [](const std::string& piece) { return piece.empty(); });
    if (!pieces.empty())
        pieces.pop_back();
    bool refused = false;
    for (const std::string& piece : pieces) {
        std::vector<std::string> parts = SplitText(piece, ",");
        // The last part of a piece is not examined.
        if (!parts.empty())
            parts.pop_back();
        for (const std::string& part : parts) {
            const char status = part.empty() ? '\0' : part.back();
            if (status == '\x06')
                continue;
            refused = true;
            const char* word = status == '\x15' ? "NAK" : status == '\x05' ? "ENQ" : "ERR";
            logout_line(QVDS_LOG_TRACE, kLogSource, 4219, "%s=%i", "Len",
                        static_cast<int>(part.size()));
            logout_line(QVDS_LOG_TRACE, kLogSource, 4220, "%s %s", word,
                        part.substr(0, 1023).c_str());
            if (g_refusedParts.size() + part.size() < kRefusedPartsCapacity)
                g_refusedParts.append(part).append("|");
            // A part that does not fit whole is left out rather than cut.
            const size_t used = std::clamp<int32_t>(g_nConfigErrorLen, 0, kErrorCapacity);
            if (used + part.size() + 1 > kErrorCapacity)
                continue;
            std::memcpy(g_szLastConfigError + used, part.data(), part.size());
            g_szLastConfigError[used + part.size()] = '|';
            g_szLastConfigError[used + part.size() + 1] = '\0';
            g_nConfigErrorLen = static_cast<int32_t>(used + part.size() + 1);
        }
    }
    return refused;
}

int ParseBufferSize(std::string_view payload) {
    const std::string_view number =
        payload.size() > 9 ? payload.substr(6, payload.size() - 9) : std::string_view{};
    if (number.empty() || number.size() > 15)
        return -1;
    long long value = 0;
    for (char c : number) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value > INT32_MAX ? -1 : static_cast<int>(value);
}

}  // namespace ferrolink_config
