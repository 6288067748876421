#pragma once
// The one context that writes to the store. Thread contexts save their changes into it
// as batches; from then on every thread's fetch sees them. Its own serial queue writes
// what has accumulated to the disc, one transaction per write, after the saving
// thread's locked access has returned; a thread waiting for the disc with nothing else
// on the queue writes on its own thread instead. One writer lock keeps to one writer at
// a time. A failed write keeps its batches and is retried with the next one. After each
// write that put batches on disc, `written` runs on the writing thread, still holding the
// writer lock (so it must not wait for the store); not while the context goes.
// Thread-safe.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct MVStoreBatch;
class MVSQLiteStore;
namespace platform {
class DispatchQueue;
}

class MVDiscWritingContext {
  public:
    explicit MVDiscWritingContext(MVSQLiteStore& store, std::function<void()> written = {});
    ~MVDiscWritingContext();

    MVSQLiteStore& store() { return store_; }
    int64_t allocateRowID();

    void addBatch(std::shared_ptr<const MVStoreBatch> batch);
    // The saved batches that may not be on disc yet, oldest first.
    std::vector<std::shared_ptr<const MVStoreBatch>> unwrittenBatches() const;

    // Hands a write to the queue; the caller does not wait.
    void scheduleWrite();
    // Runs `block` on the queue; the caller does not wait.
    void performBlock(std::function<void()> block);
    // Runs `block` on the queue and waits for it.
    void performBlockAndWait(const std::function<void()>& block);
    // Waits until everything saved before the call has been written; false when
    // something could not be written.
    bool waitUntilWritten();
    // A mark of everything saved so far, and whether all of it has been written since:
    // batches are written oldest first, so a later write carries an earlier batch.
    uint64_t savedMark() const;
    bool hasWritten(uint64_t mark) const;
    // The process's stop: what was saved so far is written (the caller waits), telling no
    // one, and nothing saved later is written. Answers whether everything saved was written.
    bool close();

  private:
    struct Writing;  // holds writerMutex_ and marks the thread as holding it
    // Under writerMutex_.
    void writePending();
    void runQueuedBlock(const std::function<void()>& block);

    MVSQLiteStore& store_;
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<const MVStoreBatch>> batches_;
    uint64_t savedBatches_ = 0;    // batches added so far
    uint64_t writtenBatches_ = 0;  // of those, the oldest ones written
    bool writeQueued_ = false;     // a write is on the queue and has not started
    int queuedBlocks_ = 0;         // blocks on the queue or running there
    bool closing_ = false;         // the destructor or close() writes what is left, telling no one
    bool closed_ = false;          // close() has written what was saved before it
    const std::function<void()> written_;
    // Held by whoever writes to the store, and by the queue's blocks.
    std::mutex writerMutex_;
    int64_t nextRowID_ = 1;
    std::shared_ptr<platform::DispatchQueue> queue_;
};
