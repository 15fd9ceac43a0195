#pragma once

#include <cstddef>
#include <list>
#include <memory>

namespace studio {

class HttpConnection;

// The owner of the open connections of one io_context. Every call is made on that context's
// thread, so it needs no lock. A connection leaves when it closes; stop_all() is the drain: idle
// connections close at once, busy ones after their answer, and any connection started afterwards
// is stopped as it starts.
class ConnectionManager {
public:
    using Handle = std::list<std::shared_ptr<HttpConnection>>::iterator;

    ConnectionManager() = default;
    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    void start(std::shared_ptr<HttpConnection> connection);
    void stop_all();
    // Called by a connection when it has closed.
    void remove(Handle handle);

    std::size_t open_count() const noexcept { return open_.size(); }

private:
    std::list<std::shared_ptr<HttpConnection>> open_;
    bool stopping_ = false;
};

} // namespace studio
