#pragma once
// An ordered list that does not own its elements (subscribers, delegates):
//
//   MVWeakArray<MVWebView> subscribers;
//   subscribers.add(webView);
//   subscribers.performDelegateRunOnMainThread([](MVWebView& v) { v.deliver(...); });
//
// An element that is freed simply drops out; nothing needs removing first.
// Not thread-safe: the owner guards it.

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Thread.h"

template <class T>
class MVWeakArray {
  public:
    MVWeakArray() = default;
    explicit MVWeakArray(size_t capacity) { elements_.reserve(capacity); }

    void add(const std::shared_ptr<T>& element) { elements_.push_back(element); }
    // Removes every occurrence of `element` (by identity); freed elements go too.
    void remove(const T* element) {
        std::erase_if(elements_, [element](const std::weak_ptr<T>& w) {
            auto strong = w.lock();
            return !strong || strong.get() == element;
        });
    }
    bool contains(const T* element) const {
        return std::any_of(elements_.begin(), elements_.end(),
                           [element](const std::weak_ptr<T>& w) {
                               auto strong = w.lock();
                               return strong && strong.get() == element;
                           });
    }

    // The live elements, in order, held strongly.
    std::vector<std::shared_ptr<T>> copyWithStrongReferences() const {
        std::vector<std::shared_ptr<T>> strong;
        strong.reserve(elements_.size());
        for (const auto& w : elements_)
            if (auto s = w.lock()) strong.push_back(std::move(s));
        return strong;
    }

    // Calls `fn` with each live element in order.
    void delegateRunMainThread(const std::function<void(T&)>& fn) const {
        for (const auto& element : copyWithStrongReferences()) fn(*element);
    }

    // Same, on the main thread: at once when called there, else posted without
    // waiting. The elements are held strongly until the call has run.
    void performDelegateRunOnMainThread(std::function<void(T&)> fn) const {
        auto strong = copyWithStrongReferences();
        auto run = [strong = std::move(strong), fn = std::move(fn)] {
            for (const auto& element : strong) fn(*element);
        };
        if (platform::isMainThread())
            run();
        else
            platform::DispatchQueue::main().async(std::move(run));
    }

  private:
    std::vector<std::weak_ptr<T>> elements_;
};
