#pragma once

#include <memory>

#include "upload/UploadInterfaces.h"

// The worker's link to the service as the upload loop takes it: the class-level service calls of
// HttpCommunicationThread. Whether the service and the store can be reached is the loop's to judge and publish in
// the queue state. Made here, once, for the worker, its tests and the benchmarks alike.
namespace WorkerLinks {

// The service calls: the upload token, and the announcement of an image under the task it belongs to.
std::unique_ptr<UploadService> serviceCalls();

} // namespace WorkerLinks
