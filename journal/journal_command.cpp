// monvia-journal's command line, its messages, show and --follow: the same
// on every system. Where the journal is registered is the system's part
// (journal_command_platform.h).

#include "journal_command.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "journal_command_platform.h"
#include "journal_entry.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;

namespace monvia::journal {
namespace detail {

void print_todays_journal(std::ostream& out) {
    const fs::path today = todays_journal_file();
    if (today.empty()) {
        out << "today's journal: none (" << no_journal_folder_reason() << ")\n";
        return;
    }
    std::error_code ec;
    const auto size = fs::file_size(today, ec);
    out << "today's journal: " << shown(today);
    if (ec)
        out << " (nothing written today yet)\n";
    else
        out << " (" << size << " bytes)\n";
}

}  // namespace detail

namespace {

using detail::quoted;
using detail::Refusal;

constexpr const char* kUsageHead =
    "usage: monvia-journal on [--system]\n"
    "       monvia-journal off [--system]\n"
    "       monvia-journal status\n"
    "       monvia-journal show [FILE] [--follow]\n"
    "       monvia-journal --help\n"
    "\n"
    "Records every call any program makes to the cash device component (CashDevice),\n"
    "one line per call, by putting the journal in front of the server that has the class.\n"
    "\n"
    "  on        finds the server that serves the class now for you (the usual search\n"
    "            order), and registers the journal in your registry in front of it\n"
    "  off       puts back exactly the registration you had before (or none); only\n"
    "            while your registration is still the journal's\n"
    "  status    which server serves the class, whether the journal is in front of it,\n"
    "            where today's journal is\n"
    "  show      prints a journal (today's unless FILE is given); --follow keeps\n"
    "            printing what is added, until interrupted\n";

constexpr const char* kUsageExample =
    "  2026-12-09 14:03:07.412 Testing[4242] #1 Charge amount=125 &inserted=0 &returned=0 -> inserted=200 "
    "returned=75 result=True (14 us)\n"
    "  2026-12-09 14:03:09.020 Testing[4242] #1 Pay amount=50 &paid=0 -> failed 80004005 \"Hopper fault, "
    "call "
    "service\" paid=0 (9 us)\n"
    "  2026-12-09 14:03:12.630 Testing[4242] #1 release\n"
    "\n"
    "Exit status: 0 done, 1 refused (nothing was changed), 2 the command line is wrong,\n"
    "3 an entry could not be written or restored.\n";

void print_usage(std::ostream& out) {
    const detail::PlatformHelp help = detail::platform_help();
    out << kUsageHead << help.system_option << "\n"
        << help.journal_folder << "\n"
        << help.example_create << kUsageExample;
}

// Where text stops being a journal: a byte no journal line holds (NUL and
// other control characters but the line break and tab) or ill-formed UTF-8.
std::optional<size_t> binary_at(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7F) return i;
            ++i;
            continue;
        }
        const size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || (c >= 0xF5)) return i;
        if (i + n > s.size()) return i;  // cut off at the end: another process is writing it
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return i;
        i += n;
    }
    return std::nullopt;
}

int do_show(const fs::path& given, bool follow, const CommandOptions& o, std::ostream& out) {
    const fs::path file = given.empty() ? todays_journal_file() : given;
    if (file.empty())
        throw Refusal{kRefused,
                      std::string("there is no journal folder (") + detail::no_journal_folder_reason() + ")"};
    const auto state = detail::file_state(file);
    if (!state)
        throw Refusal{kRefused, "there is no journal " + quoted(file) +
                                    (given.empty() ? " (nothing was recorded today)" : "")};
    if (!state->regular)
        throw Refusal{kRefused, quoted(file) + " is not a journal: it is not a regular file"};
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Refusal{kRefused, "cannot read " + quoted(file) + ": " + std::strerror(errno)};
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (const auto at = binary_at(content))
        throw Refusal{kRefused, quoted(file) + " is not a journal: it holds binary data (at byte " +
                                    std::to_string(*at) + ")"};
    out << content << std::flush;
    if (!follow) return kDone;

    // Follows the file as it grows; when it is set aside (rotated) or
    // replaced, the new one is followed from its start.
    uint64_t offset = content.size();
    detail::FileState followed = *state;
    while (!(o.stop_following && o.stop_following())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(o.follow_interval_ms));
        const auto now = detail::file_state(file);
        if (!now) continue;
        if (now->volume != followed.volume || now->index != followed.index || now->size < offset) offset = 0;
        followed = *now;
        if (now->size == offset) continue;
        std::ifstream more(file, std::ios::binary);
        more.seekg(static_cast<std::streamoff>(offset));
        std::string added((std::istreambuf_iterator<char>(more)), std::istreambuf_iterator<char>());
        // Only whole lines: the rest is printed once its line break is there.
        const auto end = added.rfind('\n');
        if (end == std::string::npos) continue;
        out.write(added.data(), static_cast<std::streamsize>(end + 1));
        out.flush();
        offset += end + 1;
    }
    return kDone;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const CommandOptions& options) {
    try {
        std::string command;
        bool machine = false, follow = false;
        std::vector<std::string> operands;
        for (const std::string& a : args) {
            if (a == "--help" || a == "-h") {
                print_usage(out);
                return kDone;
            } else if (a == "--system") {
                machine = true;
            } else if (a == "--user") {
                machine = false;
            } else if (a == "--follow" || a == "-f") {
                follow = true;
            } else if (a.size() > 1 && a[0] == '-') {
                throw Refusal{kUsage, "unknown option " + a + " (see monvia-journal --help)"};
            } else if (command.empty()) {
                command = a;
            } else {
                operands.push_back(a);
            }
        }
        if (command.empty()) throw Refusal{kUsage, "say on, off, status or show (see monvia-journal --help)"};
        if (command != "show" && follow) throw Refusal{kUsage, "--follow goes with show only"};
        if (command == "show") {
            if (machine) throw Refusal{kUsage, "--system goes with on and off only"};
            if (operands.size() > 1) throw Refusal{kUsage, "show takes one journal file at most"};
            return do_show(operands.empty() ? fs::path() : fs::u8path(operands[0]), follow, options, out);
        }
        if (!operands.empty())
            throw Refusal{kUsage, command + " takes no operand (see monvia-journal --help)"};
        if (command == "on") return detail::turn_on(machine, options, out);
        if (command == "off") return detail::turn_off(machine, options, out);
        if (command == "status") {
            if (machine) throw Refusal{kUsage, "--system goes with on and off only"};
            return detail::show_status(options, out);
        }
        throw Refusal{kUsage, "unknown command " + command + " (say on, off, status or show)"};
    } catch (const Refusal& r) {
        err << "monvia-journal: " << r.text << "\n";
        return r.code;
    } catch (const Failure& f) {
        err << "monvia-journal: " << f.description() << "\n";
        return kRegistryFailed;
    } catch (const std::exception& e) {
        err << "monvia-journal: " << e.what() << "\n";
        return kRegistryFailed;
    }
}

}  // namespace monvia::journal
