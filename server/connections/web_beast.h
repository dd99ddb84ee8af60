// Boost.Beast and Asio as the caller page uses them, configured alike wherever they are
// included (the library is header-only, so every file must see the same settings).
#pragma once

#include <chrono>

// Each web caller's thread runs an event loop of its own, which holds three descriptors (epoll,
// its wake-up and its timer) besides the caller's socket.
#define BOOST_ASIO_NO_DEPRECATED 1

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

// One caller's socket with its own event loop: HTTP first, then the terminal's WebSocket.
struct WebLink {
    net::io_context ioc{1};
    websocket::stream<beast::tcp_stream> ws{ioc};

    // Runs the loop until done() holds or the deadline passes (none: no deadline);
    // false when the deadline passed first.
    template <class Done>
    bool runUntil(Done done, const std::chrono::steady_clock::time_point* deadline) {
        while (!done()) {
            if (ioc.stopped()) ioc.restart();
            size_t ran = deadline ? ioc.run_one_until(*deadline) : ioc.run_one();
            if (ran == 0) {
                if (deadline && std::chrono::steady_clock::now() >= *deadline) return done();
                if (ioc.stopped() && !done()) return false; // nothing left that could finish it
            }
        }
        return true;
    }
};
