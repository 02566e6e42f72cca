#include "app/core/cddb_lookup.h"

#include <cstdlib>

#include <algorithm>
#include <thread>

#include "platform/com/error_info.h"
#include "platform/msg/message_queue.h"
#include "platform/system/text.h"

namespace kiv::app {

namespace {
// Posted by a worker when its lookup is over; wParam: its generation.
constexpr UINT kLookupDone = WM_USER + 1;
}  // namespace

struct CddbLookup::Worker {
    unsigned generation = 0;
    CddbLookupResult result;  // written by the thread before it posts
    std::thread thread;
};

CddbLookup::CddbLookup() {
    window_ = CreateHelperWindow(u"CDDB lookup", [this](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
        if (msg == kLookupDone) Delivered(static_cast<unsigned>(wp));
        return 0;
    });
}

CddbLookup::~CddbLookup() {
    for (auto& worker : workers_)
        if (worker->thread.joinable()) worker->thread.join();
    workers_.clear();
    if (window_) DestroyWindow(window_);
}

CddbLookupResult CddbLookup::Run(IDrive* drive) {
    CddbLookupResult r;
    if (!drive) {
        r.error = "no drive";
        return r;
    }
    if (FAILED(drive->LoadCDDBData())) {
        r.error = ToUtf8(TakeErrorDescription());
        return r;
    }
    ComPtr<ICDDBRecord> record;
    Bstr raw;
    if (FAILED(drive->GetCDDBRecord(0, record.put())) || !record || FAILED(record->get_RawData(raw.put()))) {
        const std::string why = ToUtf8(TakeErrorDescription());
        r.error = why.empty() ? std::string("no record") : why;
        return r;
    }
    r.ok = true;
    r.rawData = ToUtf8(raw.view());
    return r;
}

void CddbLookup::Start(IDrive* drive, Done done) {
    done_ = std::move(done);
    pending_ = true;
    auto worker = std::make_unique<Worker>();
    worker->generation = ++generation_;
    Worker* w = worker.get();
    ComPtr<IDrive> keep(drive);
    const HWND window = window_;
    w->thread = std::thread([w, keep, window] {
        w->result = Run(keep.get());
        PostMessage(window, kLookupDone, w->generation, 0);
    });
    workers_.push_back(std::move(worker));
}

void CddbLookup::Delivered(unsigned generation) {
    // Each thread posts once, after its last step: join it now.
    const auto it = std::find_if(workers_.begin(), workers_.end(),
                                 [generation](const auto& w) { return w->generation == generation; });
    if (it == workers_.end()) return;
    (*it)->thread.join();
    CddbLookupResult result = std::move((*it)->result);
    workers_.erase(it);
    // An older lookup's result is dropped.
    if (generation != generation_) return;
    pending_ = false;
    // The callback may start the next lookup, which replaces done_.
    Done done = done_;
    if (done) done(result);
}

CddbReport CddbLookup::Judge(const CddbLookupResult& result, bool trackListEmpty, bool automatic, bool informFailed,
                             const CdInformation& previous) {
    CddbReport report;
    if (trackListEmpty) {
        // Nothing to name: the status is cleared, the boxes too after a success.
        report.clearInformation = result.ok;
        return report;
    }
    if (!result.ok) {
        report.status = kNoRecordText;
        report.showMessage = !automatic && informFailed;
        return report;
    }
    report.status = kFinishedText;
    report.takeInformation = true;
    report.information = ParseCdInformation(result.rawData, previous);
    return report;
}

void ApplyLookupSource(const std::string& source) {
    std::string lower;
    for (char c : source) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    ::setenv("ONDALO_LOOKUP", lower.c_str(), 1);
}

}  // namespace kiv::app
