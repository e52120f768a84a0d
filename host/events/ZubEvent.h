#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// Argument object handed to the handlers of an event. It carries one untyped
// data pointer that the party firing the event chooses (it may be null); the
// argument object does not own what the pointer refers to.
class CZubEventArgs {
public:
    explicit CZubEventArgs(void* pData = nullptr) : m_pData(pData) {}
    virtual ~CZubEventArgs() = default;

    CZubEventArgs(const CZubEventArgs&) = default;
    CZubEventArgs& operator=(const CZubEventArgs&) = default;

    void* GetData() const { return m_pData; }
    void SetData(void* pData) { m_pData = pData; }

private:
    void* m_pData;
};

// A multicast event. Handlers are called by Fire, in the thread that fires the
// event, in the order in which they subscribed, and all of them have returned
// when Fire returns. Subscribing and unsubscribing may happen from any thread;
// a handler that subscribes or unsubscribes while the event fires takes effect
// from the next firing on.
template <class TArgs> class ZubEvent {
public:
    using Handler = std::function<void(TArgs&)>;
    using Token = std::size_t;

    ZubEvent() = default;
    ZubEvent(const ZubEvent&) = delete;
    ZubEvent& operator=(const ZubEvent&) = delete;

    // Adds a handler; the returned token removes it again. An empty handler
    // is not added and gives token 0, which names no subscription.
    Token Subscribe(Handler handler) {
        if (!handler)
            return 0;
        std::lock_guard<std::mutex> guard(m_Mutex);
        Token token = ++m_nLastToken;
        m_Handlers.emplace_back(token, std::move(handler));
        return token;
    }

    // Removes the handler of this token; returns false if there is none.
    bool Unsubscribe(Token token) {
        std::lock_guard<std::mutex> guard(m_Mutex);
        for (auto it = m_Handlers.begin(); it != m_Handlers.end(); ++it) {
            if (it->first == token) {
                m_Handlers.erase(it);
                return true;
            }
        }
        return false;
    }

    void Clear() {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_Handlers.clear();
    }

    std::size_t GetCount() const {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_Handlers.size();
    }

    // Calls every subscribed handler with args. The list is copied first, so
    // the lock is not held while the handlers run.
    void Fire(TArgs& args) const {
        std::vector<std::pair<Token, Handler>> handlers;
        {
            std::lock_guard<std::mutex> guard(m_Mutex);
            handlers = m_Handlers;
        }
        for (auto& entry : handlers)
            entry.second(args);
    }

    void operator()(TArgs& args) const { Fire(args); }

private:
    mutable std::mutex m_Mutex;
    std::vector<std::pair<Token, Handler>> m_Handlers;
    Token m_nLastToken = 0;
};
