#ifndef ALLOCATIONWATCH_H
#define ALLOCATIONWATCH_H

// Notices when an allocation of the process fails, so that a decoder that gives up for want of
// memory (whatever it then reports, or if it then crashes) is told apart from a decoder that fails
// on the file. Works by standing in for the C library's allocation functions; not available in
// builds with AddressSanitizer, which stands in for them itself.
namespace AllocationWatch {

// Whether the allocations are watched in this build.
bool available();

// Whether an allocation has failed since the process started.
bool failed();

} // namespace AllocationWatch

#endif
