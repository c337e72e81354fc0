#pragma once

#include <memory>

#include "upload/UploadInterfaces.h"

// The worker's links to the outside as the upload loop takes them: the class-level service calls of
// HttpCommunicationThread, and the object store, each noting whether its other end could be reached (what
// HttpCommunicationThread::isOutOfReach tells the wait dialog). Made here, once, for the worker, its tests and the
// benchmarks alike.
namespace WorkerLinks {

// The service calls: the upload token, and the announcement of an image under the task it belongs to.
std::unique_ptr<UploadService> serviceCalls();
// The store as the worker uses it: its answers passed on unchanged, each noted as reached or not.
std::unique_ptr<Uploader> reportingStore(Uploader& store);

} // namespace WorkerLinks
