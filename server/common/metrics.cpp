#include "common/metrics.h"

namespace vellumora::server {

namespace {
template <class T>
void add(std::string& out, const char* name, const char* type, const char* help,
         const std::atomic<T>& value) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
    out += name;
    out += ' ';
    out += std::to_string(value.load(std::memory_order_relaxed));
    out += '\n';
}
}  // namespace

std::string Metrics::render() const {
    std::string out;
    add(out, "vellumora_connections", "gauge", "Open room connections.", connections);
    add(out, "vellumora_rooms", "gauge", "Rooms held in memory.", rooms);
    add(out, "vellumora_history_bytes", "gauge",
        "Encoded size of the history of loaded rooms (new points far from the budget at their longest).",
        historyBytes);
    add(out, "vellumora_unfinished_message_bytes", "gauge",
        "Memory room connections hold for messages still arriving.", unfinishedBytes);
    add(out, "vellumora_outgoing_bytes", "gauge", "Bytes queued for room connections to send.",
        outgoingBytes);
    add(out, "vellumora_messages_in_total", "counter", "Room messages received.", messagesIn);
    add(out, "vellumora_messages_out_total", "counter", "Room messages sent.", messagesOut);
    add(out, "vellumora_messages_dropped_total", "counter", "Invalid or refused room messages.",
        messagesDropped);
    add(out, "vellumora_bytes_in_total", "counter", "Room message bytes received.", bytesIn);
    add(out, "vellumora_room_read_bytes_total", "counter", "Bytes read from room connections.",
        roomBytesRead);
    add(out, "vellumora_bytes_out_total", "counter", "Room message bytes sent.", bytesOut);
    add(out, "vellumora_refused_logins_total", "counter", "Failed or rate-limited log-ins and sign-ups.",
        refusedLogins);
    add(out, "vellumora_refused_connections_total", "counter", "Refused room handshakes.",
        refusedConnections);
    add(out, "vellumora_slow_consumers_closed_total", "counter", "Connections closed for falling behind.",
        slowConsumersClosed);
    add(out, "vellumora_http_requests_total", "counter", "REST requests answered.", httpRequests);
    add(out, "vellumora_history_commits_total", "counter", "Group commits of room history.", historyCommits);
    return out;
}

}  // namespace vellumora::server
