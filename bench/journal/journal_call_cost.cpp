// What the journal adds to a call to the cash device: the same members made
// directly on the simulator and through the journal in front of it, one
// after the other in the same run, each call timed on its own. The journal
// writes its lines to a real file (in a temporary state folder), as it does
// in use.
//
//   journal_call_cost [--calls N]      (default 20000 of each member, each way)
//
// Prints, per member and way, the median, minimum and maximum time of one
// call in microseconds, and what the journal adds in the median.

#include <monvia/component/bstr.h>
#include <monvia/component/cash_device.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "com/apartment.h"
#include "com/registry.h"
#include "journal_entry.h"
#include "runtime/failure.h"

namespace fs = std::filesystem;
using namespace monvia;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double median, min, max;
};

Figures figures(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us.front(), us.back()};
}

fs::path make_folder(const fs::path& root, const char* name) {
    const fs::path p = root / name;
    fs::create_directories(p);
    ::chmod(p.c_str(), 0755);
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    size_t calls = 20000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--calls" && i + 1 < argc) {
            calls = std::stoul(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: journal_call_cost [--calls N]\n");
            return 2;
        }
    }
    std::string pattern = (fs::temp_directory_path() / "journal-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const fs::path root = pattern;
    ::chmod(root.c_str(), 0755);
    const fs::path direct_dir = make_folder(root, "direct"), journal_dir = make_folder(root, "journal");
    const std::string entry = device::CLSID_CashDevice.str() + ".class";
    std::ofstream(direct_dir / entry) << "library=" MONVIA_SIMULATOR_LIBRARY "\n";
    std::ofstream(journal_dir / entry) << journal::compose_entry(
        {MONVIA_JOURNAL_LIBRARY, MONVIA_SIMULATOR_LIBRARY, std::string(journal::kNoPrevious)});
    // The journal finds its own entry by the programs' search: this folder alone.
    ::setenv("MONVIA_CLASS_REGISTRY", journal_dir.c_str(), 1);
    ::setenv("XDG_STATE_HOME", make_folder(root, "state").c_str(), 1);

    int status = 0;
    try {
        com::Apartment apartment;
        com::ClassRegistry direct_registry{direct_dir}, journal_registry{journal_dir};
        auto direct =
            direct_registry.create<device::ICashDevice>(device::CLSID_CashDevice, device::IID_ICashDevice);
        auto journaled =
            journal_registry.create<device::ICashDevice>(device::CLSID_CashDevice, device::IID_ICashDevice);
        com::VARIANT_BOOL ok = 0;
        direct->Connect(&ok);
        journaled->Connect(&ok);

        struct Member {
            const char* name;
            std::function<void(device::ICashDevice*)> call;
        };
        const std::vector<Member> members = {
            {"get_Connected",
             [](device::ICashDevice* d) {
                 com::VARIANT_BOOL c = 0;
                 d->get_Connected(&c);
             }},
            {"GetLevels",
             [](device::ICashDevice* d) {
                 com::Bstr denoms, levels;
                 com::VARIANT_BOOL r = 0;
                 d->GetLevels(static_cast<int32_t>(device::LevelKind::Current), denoms.inout(),
                              levels.inout(), &r);
             }},
        };
        std::printf("%zu calls of each member each way; one call, in microseconds\n", calls);
        std::printf("%-14s %-8s %9s %9s %9s\n", "member", "way", "median", "min", "max");
        for (const Member& m : members) {
            std::vector<double> plain, through;
            plain.reserve(calls);
            through.reserve(calls);
            // Alternated, so that both ways see the same machine load.
            for (size_t i = 0; i < calls; ++i) {
                for (auto* list : {&plain, &through}) {
                    device::ICashDevice* d = list == &plain ? direct.get() : journaled.get();
                    const auto start = Clock::now();
                    m.call(d);
                    list->push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
                }
            }
            const Figures p = figures(plain), t = figures(through);
            std::printf("%-14s %-8s %9.2f %9.2f %9.2f\n", m.name, "direct", p.median, p.min, p.max);
            std::printf("%-14s %-8s %9.2f %9.2f %9.2f\n", m.name, "journal", t.median, t.min, t.max);
            std::printf("%-14s %-8s %9.2f\n", m.name, "added", t.median - p.median);
        }
        direct.reset();
        journaled.reset();
        std::error_code ec;
        const auto written = fs::file_size(journal::todays_journal_file(), ec);
        std::printf("journal written: %ju bytes\n", static_cast<uintmax_t>(ec ? 0 : written));
    } catch (const Failure& f) {
        std::fprintf(stderr, "journal_call_cost: %s\n", f.description().c_str());
        status = 1;
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}
