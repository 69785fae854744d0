#pragma once
// The ticket service's answers to request lines, and the byte escaping used
// for logs and for texts given on the command line.
//
// Requests: "C|<ticket>|<amount>" creates a ticket, "S|<ticket>" asks for its
// state. Numbers are 32-bit signed decimal integers, written without blanks,
// plus signs or thousands separators.
//   C|t|a, t new, a >= 0   -> OK|t|CREATED|a
//   C|t|a, t exists        -> ERR|t|EXISTS
//   C|t|a, a < 0           -> ERR|t|BAD AMOUNT
//   S|t, t created here    -> OK|t|CREATED
//   S|t, t unknown         -> ERR|t|UNKNOWN
//   anything else          -> ERR|BAD REQUEST
// Tickets live as long as the service runs and are shared by all connections.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace monvia::ticket_service {

class TicketBook {
public:
    std::string answer(std::string_view request);
    std::size_t size() const { return amounts_.size(); }

private:
    std::map<int32_t, int32_t> amounts_;  // ticket -> amount
};

// A 32-bit signed decimal integer, strictly: optional '-', then digits only.
std::optional<int32_t> parse_int32(std::string_view text);

// Bytes as readable ASCII: printable characters as themselves, backslash
// doubled, \r \n \t, and \xNN for every other byte. Nothing is lost.
std::string escape(std::string_view bytes);

// The reverse for texts typed on a command line: \r \n \t \0 \\ and \xNN
// (two hex digits). No value when the text holds a malformed escape.
std::optional<std::string> unescape(std::string_view text);

}  // namespace monvia::ticket_service
