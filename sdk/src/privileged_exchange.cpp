#include "privileged_exchange.hpp"

#include "pipe_connection.hpp"
#include "station_protocol.hpp"

namespace kv::station {
namespace {

// The service drops a caller it does not serve without a word.
constexpr char refused_text[] =
    "the service closed the connection without a reply (it answers only Kestrivon-Client.exe from its own folder)";

Answer explained(Answer failure) {
    if (failure.status == KV_ERR_CLOSED) failure.text = refused_text;
    return failure;
}

}  // namespace

Answer privileged_exchange(std::string_view request, const Settings& settings) {
    if (Answer checked = check_request(request); !checked.ok()) return checked;
    auto connection = PipeConnection::open(settings.privileged_pipe, settings.busy_timeout);
    if (!connection.ok()) return connection.failure();
    if (Answer mode = connection->use_message_mode(); !mode.ok()) return explained(mode);
    if (Answer written = connection->write(request, settings.reply_timeout); !written.ok()) return explained(written);
    std::string reply;
    Answer read = connection->read_message(reply, settings.reply_timeout);
    if (read.status == KV_ERR_TIMEOUT) {
        return answer(KV_ERR_TIMEOUT, "no reply within " + std::to_string(settings.reply_timeout.count()) + " ms");
    }
    if (!read.ok()) return explained(read);
    return parse_reply(reply);
}

}  // namespace kv::station
