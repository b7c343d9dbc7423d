// The device worker: request handling, reports and the frame of a job.
#include "download/worker.h"

#include <cstdarg>

#include "foundation/pacing.h"

namespace vornex {

TSdlThread::TSdlThread() = default;

TSdlThread::~TSdlThread() { Stop(); }

void TSdlThread::OnRequest(std::uint32_t type, TRequestRecord record) {
  if (type != REQ_SINGLE_DOWNLOAD) return;
  auto* job = std::get_if<std::unique_ptr<TWorkerJob>>(&record);
  busy_.store(1, std::memory_order_relaxed);
  RunDownloadJob(job != nullptr ? std::move(*job) : nullptr);
  busy_.store(0, std::memory_order_relaxed);
}

void TSdlThread::RunDownloadJob(std::unique_ptr<TWorkerJob> job) {
  if (!job) return;
  const std::uint32_t startTick = pacing::TickCount();
  jobStartTick_ = startTick;
  slot_ = job->slot;
  com_ = job->com;
  EndJob(startTick);
}

void TSdlThread::EndJob(std::uint32_t startTick) {
  const double seconds = static_cast<double>(pacing::TickCount() - startTick) / 1000.0;
  Report(-5, "Download Finished.  Use time : %.3fs", seconds);
  jobStartTick_ = 0;
  slot_ = -1;
  com_ = -1;
}

void TSdlThread::Report(std::int32_t value, const char* format, ...) {
  if (slot_ < 0) return;
  auto cnf = std::make_unique<TSingleCnf>();
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    cnf->text = FormatBoundedV(decltype(cnf->text)::kCapacity, format, args);
    va_end(args);
  }
  MapReportValue(value, &cnf->code, &cnf->progress);
  if (cnf->code != CNF_PROGRESS) cnf->elapsed = pacing::TickCount() - jobStartTick_;
  cnf->slot = slot_;
  Notify(CNF_SINGLE, std::move(cnf));
}

}  // namespace vornex
