// Where each scan goes once the data-stream library's thread hands it over.
//
// The reader thread only decodes or queues: in the cursor mode the text is
// appended to the pending text that the window's collect timer pastes; in the
// network mode the scan joins an in-order queue that a worker thread of this
// object posts from. The reader thread never waits for the network or the
// display.
//
// The queue holds at most kDeliveryQueueCapacity blocks. A block that finds
// that many waiting joins the last one, as blocks did when the reader waited
// for each POST and read what had come meanwhile as one block; so a burst of
// scans faster than the server goes out in fewer, larger POSTs instead of
// being lost. Only a block that would take the waiting bytes past
// kDeliveryQueueBytes is refused and reported (DeliveryNotice::QueueFull),
// never dropped silently.
//
// With the outbox on, a scan whose POST failed is kept in the outbox file
// (synced before the failure is reported) and posted again, oldest first,
// before any newer scan: when the next scan is to be posted, every
// kOutboxRetrySeconds, and at the next start. It leaves the file only once
// the server answered "succes".
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "delivery/http_client.h"
#include "delivery/outbox.h"
#include "delivery/pending_text.h"
#include "delivery/text_conversion.h"

namespace quillon {

inline constexpr size_t kDeliveryQueueCapacity = 1000;
inline constexpr size_t kDeliveryQueueBytes = 1024 * 1024;
inline constexpr int kOutboxRetrySeconds = 30;

enum class WorkMode {
    Cursor,   // "0": pasted at the cursor
    Network,  // "1": posted to the url
    None,     // anything else: neither
};

WorkMode WorkModeFromText(std::string_view text);

// The outbox lies beside the settings file: ktr.outbox.
std::filesystem::path OutboxFileBeside(const std::filesystem::path& iniFile);

// What the delivery needs of the settings, copied when it starts, so that
// no thread reads the settings record while the window thread writes it.
struct DeliverySettings {
    WorkMode mode = WorkMode::None;
    unsigned codePage = 0;
    std::string url;
    HttpOptions http;
    bool outbox = false;
    std::filesystem::path outboxFile;
    // How long the outbox waits for a scan before it is tried on its own.
    std::chrono::milliseconds outboxRetry = std::chrono::seconds(kOutboxRetrySeconds);
};

enum class DeliveryNotice {
    PostFailed,     // a reply other than "succes"; `waiting` scans are in the outbox
    QueueFull,      // a scan was refused: kDeliveryQueueCapacity wait already
    OutboxChanged,  // the outbox was worked off in part or whole; `waiting` remain
};

// Called on the worker thread, or for QueueFull on the reader thread.
using DeliveryNoticeFn = std::function<void(DeliveryNotice notice, size_t waiting)>;

// The reply that counts as delivered.
inline constexpr std::string_view kSuccessReply = "succes";

class ScanDelivery {
  public:
    explicit ScanDelivery(PendingText& pending);
    ~ScanDelivery();
    ScanDelivery(const ScanDelivery&) = delete;
    ScanDelivery& operator=(const ScanDelivery&) = delete;

    // Takes the settings and, in the network mode, starts the worker (which
    // first tries the outbox left by an earlier run).
    void Start(DeliverySettings settings, DeliveryNoticeFn notice);
    // Aborts a POST under way and ends the worker; scans still queued are
    // not posted (with the outbox on, they and the aborted one are kept in
    // it). Idempotent; the destructor calls it.
    void Stop();

    // The code page dialog's choice, for the next blocks.
    void SetCodePage(unsigned codePage);

    // The reader thread's hand-over of one block. Cursor mode: true when the
    // decoded text landed in an empty pending text (the collect timer needs
    // arming). Network mode: the block is queued, or refused when the queue
    // is full.
    bool Receive(std::string_view bytes);

    // The collect timer's take: bytes still held for an incomplete character
    // are decoded as they stand and appended, then the whole pending text is
    // taken.
    std::u16string TakePending();

    // Scans queued and not yet taken by the worker.
    size_t Queued() const;

    // Why the last POST that failed did not deliver: libcurl's reason, or
    // the reply that was not "succes".
    std::string LastFailure() const;

  private:
    void Work();
    // One POST with an abortable client; true on "succes".
    bool Post(const std::string& scan);
    void Notify(DeliveryNotice notice, size_t waiting);
    // Posts outbox scans oldest first until one fails; false when some wait.
    bool WorkOffOutbox();
    void DeliverScan(const std::string& scan);
    bool Stopping() const;

    PendingText& m_pending;
    DeliverySettings m_settings;
    DeliveryNoticeFn m_notice;

    // The decoder and the pending text change together under this lock, so
    // text goes in the order its bytes came.
    std::mutex m_decodeMutex;
    ScanDecoder m_decoder;
    std::atomic<unsigned> m_codePage{0};

    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<std::string> m_queue;
    size_t m_queuedBytes = 0;  // of all blocks in m_queue
    bool m_stopping = false;
    std::unique_ptr<CHttpClient> m_http;  // the worker's own, made at its first POST
    CHttpClient* m_client = nullptr;      // the POST under way
    std::string m_lastFailure;            // of the last POST that failed
    std::thread m_worker;
    // Only the worker touches it.
    std::unique_ptr<Outbox> m_outbox;
};

}  // namespace quillon
