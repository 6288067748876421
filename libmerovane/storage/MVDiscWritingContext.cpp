#include "libmerovane/storage/MVDiscWritingContext.h"

#include <algorithm>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/storage/MVSQLiteStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JsonValue.h"

namespace {
// The context whose writer lock this thread holds, if any.
thread_local const MVDiscWritingContext* tWriting = nullptr;
}  // namespace

struct MVDiscWritingContext::Writing {
    explicit Writing(MVDiscWritingContext& context) : lock(context.writerMutex_) {
        tWriting = &context;
    }
    ~Writing() { tWriting = nullptr; }
    std::lock_guard<std::mutex> lock;
};

MVDiscWritingContext::MVDiscWritingContext(MVSQLiteStore& store, std::function<void()> written)
    : store_(store),
      written_(std::move(written)),
      nextRowID_(store.maxRowID() + 1),
      queue_(platform::DispatchQueue::makeSerial("MVPersistentStorage")) {}

MVDiscWritingContext::~MVDiscWritingContext() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    waitUntilWritten();
    queue_.reset();  // joins the queue's thread
}

bool MVDiscWritingContext::close() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    const bool written = waitUntilWritten();
    {
        // Under the writer lock: a write under way on another thread ends first.
        Writing writing(*this);
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    return written;
}

int64_t MVDiscWritingContext::allocateRowID() {
    std::lock_guard lock(mutex_);
    return nextRowID_++;
}

void MVDiscWritingContext::addBatch(std::shared_ptr<const MVStoreBatch> batch) {
    std::lock_guard lock(mutex_);
    batches_.push_back(std::move(batch));
    ++savedBatches_;
}

uint64_t MVDiscWritingContext::savedMark() const {
    std::lock_guard lock(mutex_);
    return savedBatches_;
}

bool MVDiscWritingContext::hasWritten(uint64_t mark) const {
    std::lock_guard lock(mutex_);
    return writtenBatches_ >= mark;
}

std::vector<std::shared_ptr<const MVStoreBatch>> MVDiscWritingContext::unwrittenBatches() const {
    std::lock_guard lock(mutex_);
    return {batches_.begin(), batches_.end()};
}

void MVDiscWritingContext::scheduleWrite() {
    {
        std::lock_guard lock(mutex_);
        // One queued write takes every batch saved before it runs.
        if (batches_.empty() || writeQueued_ || closed_) return;
        writeQueued_ = true;
    }
    queue_->async([this] {
        {
            std::lock_guard lock(mutex_);
            writeQueued_ = false;
        }
        Writing writing(*this);
        writePending();
    });
}

void MVDiscWritingContext::performBlock(std::function<void()> block) {
    {
        std::lock_guard lock(mutex_);
        ++queuedBlocks_;
    }
    queue_->async([this, block = std::move(block)] { runQueuedBlock(block); });
}

void MVDiscWritingContext::performBlockAndWait(const std::function<void()>& block) {
    {
        std::lock_guard lock(mutex_);
        ++queuedBlocks_;
    }
    queue_->sync([&] { runQueuedBlock(block); });
}

void MVDiscWritingContext::runQueuedBlock(const std::function<void()>& block) {
    struct Done {
        MVDiscWritingContext& context;
        ~Done() {
            std::lock_guard lock(context.mutex_);
            --context.queuedBlocks_;
        }
    } done{*this};
    Writing writing(*this);
    block();
}

bool MVDiscWritingContext::waitUntilWritten() {
    bool blocksQueued;
    // The newest batch saved before the call: batches leave the list oldest first, so
    // once it has left, everything before it is on disc. Batches other threads save
    // meanwhile are theirs to wait for.
    std::shared_ptr<const MVStoreBatch> newest;
    {
        std::lock_guard lock(mutex_);
        blocksQueued = queuedBlocks_ > 0;
        if (!batches_.empty()) newest = batches_.back();
    }
    if (tWriting == this) {
        // A block on the queue waits: it holds the writer lock already.
        writePending();
    } else if (blocksQueued) {
        // Whatever was handed to the queue before runs first.
        queue_->sync([this] {
            Writing writing(*this);
            writePending();
        });
    } else {
        // Nothing else queued: write here, saving two trips to the queue's thread. The
        // writer lock keeps a queued write from running at the same time.
        Writing writing(*this);
        writePending();
    }
    std::lock_guard lock(mutex_);
    return !newest || std::find(batches_.begin(), batches_.end(), newest) == batches_.end();
}

// Runs under the writer lock only, so the front of the list is this function's alone:
// savers only append, and a fetch that copied the list before the batches leave it
// still finds their rows, either in the store or in its copy.
void MVDiscWritingContext::writePending() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
    }
    std::vector<std::shared_ptr<const MVStoreBatch>> batches = unwrittenBatches();
    if (batches.empty()) return;
    platform::Error error;
    if (!store_.write(batches, &error)) {
        MVLogWarn("MVPersistentStorage could not write to disc. {} {}",
                  error.localizedDescription(), platform::json::print(error.userInfo()));
        return;
    }
    bool tell = false;
    {
        std::lock_guard lock(mutex_);
        batches_.erase(batches_.begin(), batches_.begin() + static_cast<long>(batches.size()));
        writtenBatches_ += batches.size();
        tell = written_ && !closing_;
    }
    if (tell) written_();
}
