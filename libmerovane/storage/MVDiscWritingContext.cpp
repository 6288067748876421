#include "libmerovane/storage/MVDiscWritingContext.h"

#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JsonValue.h"

MVDiscWritingContext::MVDiscWritingContext(MVSQLiteStore& store)
    : store_(store),
      nextRowID_(store.maxRowID() + 1),
      queue_(platform::DispatchQueue::makeSerial("MVPersistentStorage")) {}

MVDiscWritingContext::~MVDiscWritingContext() {
    waitUntilWritten();
    queue_.reset();  // joins the queue's thread
}

int64_t MVDiscWritingContext::allocateRowID() {
    std::lock_guard lock(mutex_);
    return nextRowID_++;
}

void MVDiscWritingContext::addBatch(std::shared_ptr<const MVStoreBatch> batch) {
    std::lock_guard lock(mutex_);
    batches_.push_back(std::move(batch));
}

std::vector<std::shared_ptr<const MVStoreBatch>> MVDiscWritingContext::unwrittenBatches() const {
    std::lock_guard lock(mutex_);
    return {batches_.begin(), batches_.end()};
}

void MVDiscWritingContext::scheduleWrite() {
    {
        std::lock_guard lock(mutex_);
        if (batches_.empty()) return;
    }
    queue_->async([this] { writePending(); });
}

void MVDiscWritingContext::performBlock(std::function<void()> block) {
    queue_->async(std::move(block));
}

void MVDiscWritingContext::performBlockAndWait(const std::function<void()>& block) {
    queue_->sync(block);
}

bool MVDiscWritingContext::waitUntilWritten() {
    queue_->sync([this] { writePending(); });
    std::lock_guard lock(mutex_);
    return batches_.empty();
}

// Runs on the queue only, so the front of the list is this function's alone: savers
// only append, and a fetch that copied the list before the batches leave it still
// finds their rows, either in the store or in its copy.
void MVDiscWritingContext::writePending() {
    std::vector<std::shared_ptr<const MVStoreBatch>> batches = unwrittenBatches();
    if (batches.empty()) return;
    platform::Error error;
    if (!store_.write(batches, &error)) {
        MVLogWarn("MVPersistentStorage could not write to disc. {} {}",
                  error.localizedDescription(), platform::json::print(error.userInfo()));
        return;
    }
    std::lock_guard lock(mutex_);
    batches_.erase(batches_.begin(), batches_.begin() + static_cast<long>(batches.size()));
}
