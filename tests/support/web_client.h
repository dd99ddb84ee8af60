// A caller from the caller page, for tests: a WebSocket client on 127.0.0.1 that keeps what
// the board sends as text. Every wait has a bound.
#pragma once

#include "server/connections/web_beast.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace ovtest {

class WebClient {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // The handshake on `target`; false when it was refused or failed (status() tells the HTTP
    // status of a refusal, 101 once accepted).
    bool connect(uint16_t port, const Headers& headers = {}, const std::string& target = "/ws",
                 std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        tcp::endpoint at(net::ip::make_address_v4("127.0.0.1"), port);
        beast::error_code ec;
        bool done = false;
        beast::get_lowest_layer(ws_).async_connect(at, [&](beast::error_code e) {
            ec = e;
            done = true;
        });
        if (!runFor([&] { return done; }, bound) || ec) return false;
        ws_.set_option(websocket::stream_base::decorator([headers](websocket::request_type& r) {
            for (const auto& [name, value] : headers)
                r.set(name, value);
        }));
        done = false;
        ws_.async_handshake(response_, "127.0.0.1:" + std::to_string(port), target,
                            [&](beast::error_code e) {
                                ec = e;
                                done = true;
                            });
        if (!runFor([&] { return done; }, bound)) return false;
        status_ = response_.result_int();
        if (ec) return false;
        ws_.binary(true);
        ws_.auto_fragment(false); // a message goes as one frame, however large
        ws_.read_message_max(0);  // whatever the board sends
        startReading();
        return true;
    }

    int status() const { return status_; }
    uint16_t localPort() {
        beast::error_code ec;
        return beast::get_lowest_layer(ws_).socket().local_endpoint(ec).port();
    }

    bool send(const std::string& bytes,
              std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        bool done = false;
        beast::error_code ec;
        ws_.async_write(net::buffer(bytes), [&](beast::error_code e, size_t) {
            ec = e;
            done = true;
        });
        return runFor([&] { return done; }, bound) && !ec;
    }

    // Waits for `needle` after the mark, moves the mark past it and returns the text up to it;
    // empty when it did not come within the bound or the board closed first.
    std::string readUntil(const std::string& needle,
                          std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        size_t at = std::string::npos;
        runFor(
            [&] {
                at = text.find(needle, mark);
                return at != std::string::npos || closed_;
            },
            bound);
        if (at == std::string::npos) return {};
        std::string part = text.substr(mark, at + needle.size() - mark);
        mark = at + needle.size();
        return part;
    }

    // True once the board has closed the connection within the bound.
    bool waitForClose(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        return runFor([&] { return closed_; }, bound);
    }
    // The board's close code (1000 for a normal goodbye), 0 without a close frame.
    int closeCode() const { return closeCode_; }

    std::string text; // everything received
    size_t mark = 0;

private:
    template <class Done> bool runFor(Done done, std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (ioc_.stopped()) ioc_.restart();
            if (ioc_.run_one_until(end) == 0 &&
                (std::chrono::steady_clock::now() >= end || ioc_.stopped()))
                return done();
        }
        return true;
    }

    void startReading() {
        ws_.async_read(in_, [this](beast::error_code ec, size_t) {
            text += beast::buffers_to_string(in_.data());
            in_.consume(in_.size());
            if (ec) {
                closed_ = true;
                closeCode_ = ws_.reason().code;
                return;
            }
            startReading();
        });
    }

    net::io_context ioc_{1};
    websocket::stream<beast::tcp_stream> ws_{ioc_};
    websocket::response_type response_;
    beast::flat_buffer in_;
    int status_ = 0;
    bool closed_ = false;
    int closeCode_ = 0;
};

} // namespace ovtest
