#include "connection_manager.hpp"

#include "http_connection.hpp"

namespace studio {

void ConnectionManager::start(std::shared_ptr<HttpConnection> connection) {
    open_.push_front(connection);
    connection->start(*this, open_.begin());
    if (stopping_) {
        connection->stop();
    }
}

void ConnectionManager::stop_all() {
    stopping_ = true;
    // A connection that closes now removes its own entry, so step past it first.
    for (auto it = open_.begin(); it != open_.end();) {
        const auto connection = *it++;
        connection->stop();
    }
}

void ConnectionManager::remove(Handle handle) {
    open_.erase(handle);
}

} // namespace studio
