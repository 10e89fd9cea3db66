#include "delivery/scan_delivery.h"

#include <utility>

namespace quillon {

WorkMode WorkModeFromText(std::string_view text) {
    if (text == "0") {
        return WorkMode::Cursor;
    }
    if (text == "1") {
        return WorkMode::Network;
    }
    return WorkMode::None;
}

std::filesystem::path OutboxFileBeside(const std::filesystem::path& iniFile) {
    return iniFile.parent_path() / "ktr.outbox";
}

ScanDelivery::ScanDelivery(PendingText& pending) : m_pending(pending) {}

ScanDelivery::~ScanDelivery() {
    Stop();
}

void ScanDelivery::Start(DeliverySettings settings, DeliveryNoticeFn notice) {
    Stop();
    m_settings = std::move(settings);
    m_notice = std::move(notice);
    m_codePage = m_settings.codePage;
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = false;
        m_queue.clear();
        m_queuedBytes = 0;
    }
    m_outbox.reset();
    if (m_settings.mode != WorkMode::Network) {
        return;
    }
    if (m_settings.outbox) {
        m_outbox = std::make_unique<Outbox>(m_settings.outboxFile);
    }
    m_worker = std::thread([this] { Work(); });
}

void ScanDelivery::Stop() {
    {
        std::lock_guard lock(m_queueMutex);
        m_stopping = true;
        if (m_client != nullptr) {
            m_client->Abort();
        }
    }
    m_queueChanged.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void ScanDelivery::SetCodePage(unsigned codePage) {
    m_codePage = codePage;
}

bool ScanDelivery::Receive(std::string_view bytes) {
    if (bytes.empty()) {
        return false;
    }
    switch (m_settings.mode) {
        case WorkMode::Cursor: {
            std::lock_guard lock(m_decodeMutex);
            std::optional<std::u16string> text = m_decoder.Feed(bytes, m_codePage);
            return text && !text->empty() && m_pending.Append(*text);
        }
        case WorkMode::Network: {
            bool refused = false;
            {
                std::lock_guard lock(m_queueMutex);
                if (m_queuedBytes + bytes.size() > kDeliveryQueueBytes) {
                    refused = true;
                } else if (m_queue.size() >= kDeliveryQueueCapacity) {
                    m_queue.back().append(bytes);
                    m_queuedBytes += bytes.size();
                } else {
                    m_queue.emplace_back(bytes);
                    m_queuedBytes += bytes.size();
                }
            }
            if (refused) {
                Notify(DeliveryNotice::QueueFull, kDeliveryQueueCapacity);
            } else {
                m_queueChanged.notify_one();
            }
            return false;
        }
        case WorkMode::None:
            break;
    }
    return false;
}

std::u16string ScanDelivery::TakePending() {
    std::lock_guard lock(m_decodeMutex);
    if (m_decoder.Holding()) {
        std::optional<std::u16string> rest = m_decoder.Flush(m_codePage);
        if (rest && !rest->empty()) {
            m_pending.Append(*rest);
        }
    }
    return m_pending.TakeAll();
}

std::string ScanDelivery::LastFailure() const {
    std::lock_guard lock(m_queueMutex);
    return m_lastFailure;
}

size_t ScanDelivery::Queued() const {
    std::lock_guard lock(m_queueMutex);
    return m_queue.size();
}

void ScanDelivery::Notify(DeliveryNotice notice, size_t waiting) {
    if (m_notice) {
        m_notice(notice, waiting);
    }
}

bool ScanDelivery::Post(const std::string& scan) {
    // One client for the worker's life: libcurl keeps its connection to the
    // server open between scans, so a burst pays for one connect (and one
    // TLS handshake) instead of one per scan.
    if (!m_http) {
        m_http = std::make_unique<CHttpClient>(m_settings.http);
    }
    CHttpClient& client = *m_http;
    {
        std::lock_guard lock(m_queueMutex);
        if (m_stopping) {
            return false;
        }
        m_client = &client;
    }
    std::string reply;
    const int result = client.Request("POST", m_settings.url, scan, reply);
    std::lock_guard lock(m_queueMutex);
    m_client = nullptr;
    if (reply == kSuccessReply) {
        return true;
    }
    if (result != kHttpReplyRead) {
        m_lastFailure = client.LastError();
    } else {
        constexpr size_t kShownReply = 60;
        m_lastFailure = "the server answered \"" + reply.substr(0, kShownReply) +
                        (reply.size() > kShownReply ? "...\"" : "\"") + " instead of \"" +
                        std::string(kSuccessReply) + "\"";
    }
    return false;
}

bool ScanDelivery::WorkOffOutbox() {
    const size_t before = m_outbox->Count();
    while (!m_outbox->Empty() && Post(m_outbox->Oldest())) {
        if (!m_outbox->RemoveOldest()) {
            // Delivered but still on file: it would go out twice, so the
            // work stops here until the file can be written.
            break;
        }
    }
    if (m_outbox->Count() != before) {
        Notify(DeliveryNotice::OutboxChanged, m_outbox->Count());
    }
    return m_outbox->Empty();
}

bool ScanDelivery::Stopping() const {
    std::lock_guard lock(m_queueMutex);
    return m_stopping;
}

void ScanDelivery::DeliverScan(const std::string& scan) {
    if (!m_outbox) {
        // A POST that the end cut short is not an error to show.
        if (!Post(scan) && !Stopping()) {
            Notify(DeliveryNotice::PostFailed, 0);
        }
        return;
    }
    // Older scans go first; while they cannot, the new one queues behind
    // them.
    if ((m_outbox->Empty() || WorkOffOutbox()) && Post(scan)) {
        return;
    }
    // Kept also when the end cut the POST short.
    const bool kept = m_outbox->Append(scan);
    if (!Stopping()) {
        Notify(DeliveryNotice::PostFailed, kept ? m_outbox->Count() : 0);
    }
}

void ScanDelivery::Work() {
    using Clock = std::chrono::steady_clock;
    // The outbox left by an earlier run is tried at once.
    Clock::time_point nextRetry = Clock::now();
    std::unique_lock lock(m_queueMutex);
    for (;;) {
        const bool retryDue = m_outbox && !m_outbox->Empty() && Clock::now() >= nextRetry;
        if (m_stopping) {
            // Scans that never got their turn are kept when the outbox is
            // on, for the next start.
            if (m_outbox) {
                for (const std::string& scan : m_queue) {
                    m_outbox->Append(scan);
                }
                m_queue.clear();
                m_queuedBytes = 0;
            }
            return;
        }
        if (!m_queue.empty()) {
            std::string scan = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= scan.size();
            lock.unlock();
            DeliverScan(scan);
            nextRetry = Clock::now() + m_settings.outboxRetry;
            lock.lock();
        } else if (retryDue) {
            lock.unlock();
            WorkOffOutbox();
            nextRetry = Clock::now() + m_settings.outboxRetry;
            lock.lock();
        } else if (m_outbox && !m_outbox->Empty()) {
            m_queueChanged.wait_until(lock, nextRetry);
        } else {
            m_queueChanged.wait(lock);
        }
    }
}

}  // namespace quillon
