#include "net/socket.h"

#include <array>
#include <utility>

namespace monvia::net {

namespace {

// The descriptions testers are used to reading next to these numbers.
constexpr std::array<std::pair<int32_t, const char*>, 30> kDescriptions{{
    {10004, "The operation is canceled"},
    {10013, "The requested address is a broadcast address, but flag is not set"},
    {10014, "Invalid argument"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Socket is non-blocking and the specified operation will block"},
    {10036, "A blocking operation is in progress"},
    {10037, "The operation is completed. No blocking operation is in progress"},
    {10038, "The descriptor is not a socket"},
    {10040, "The datagram is too large to fit into the buffer and is truncated"},
    {10043, "The specified port is not supported"},
    {10048, "Address in use"},
    {10049, "Address not available from the local machine"},
    {10050, "Network subsystem failed"},
    {10051, "The network cannot be reached from this host at this time"},
    {10052, "Connection has timed out when SO_KEEPALIVE is set"},
    {10053, "Connection is aborted due to timeout or other failure"},
    {10054, "Connection reset by remote side"},
    {10055, "No buffer space is available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Socket has been shut down"},
    {10060, "Connection timed out"},
    {10061, "Connection is forcefully rejected"},
    {10065, "The host cannot be reached from this host at this time"},
    {11001, "Authoritative answer: Host not found"},
    {11002, "Non-Authoritative answer: Host not found"},
    {11004, "Valid name, no data record of requested type"},
    {40006, "Wrong protocol or connection state for the requested transaction or request"},
    {40020, "Invalid operation at current state"},
}};

}  // namespace

std::string describe_error(int32_t number) {
    for (const auto& [n, text] : kDescriptions) {
        if (n == number) return text;
    }
    return "Unknown socket error " + std::to_string(number);
}

}  // namespace monvia::net
