#include "delivery/pending_text.h"

namespace quillon {

bool PendingText::Append(std::u16string_view units) {
    std::lock_guard lock(mutex_);
    const bool armTimer = text_.empty() || held_;
    held_ = false;
    text_.append(units);
    return armTimer;
}

std::u16string PendingText::TakeAll() {
    std::lock_guard lock(mutex_);
    std::u16string taken;
    taken.swap(text_);
    held_ = false;
    return taken;
}

void PendingText::Restore(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    text_.insert(0, text);
}

void PendingText::Hold(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    text_.insert(0, text);
    held_ = !text_.empty();
}

bool PendingText::Held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

bool PendingText::Empty() const {
    std::lock_guard lock(mutex_);
    return text_.empty();
}

size_t PendingText::Size() const {
    std::lock_guard lock(mutex_);
    return text_.size();
}

}  // namespace quillon
