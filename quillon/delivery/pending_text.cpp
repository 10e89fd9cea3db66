#include "delivery/pending_text.h"

namespace quillon {

bool PendingText::Append(std::u16string_view units) {
    std::lock_guard lock(mutex_);
    bool wasEmpty = text_.empty();
    text_.append(units);
    return wasEmpty;
}

std::u16string PendingText::TakeAll() {
    std::lock_guard lock(mutex_);
    std::u16string taken;
    taken.swap(text_);
    return taken;
}

void PendingText::Restore(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    text_.insert(0, text);
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
