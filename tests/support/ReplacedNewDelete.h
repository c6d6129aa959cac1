// Replaces every form of the global operator new and delete with malloc and free, calling
// noteAllocation(size) on each allocation, for test and benchmark programs that watch what the
// code under test allocates. Include it in exactly one source file of a program, which defines
//     void noteAllocation(std::size_t size);
// Every form is replaced so that no block crosses between these and a sanitizer's own.
#pragma once

#include <cstdlib>
#include <new>

void noteAllocation(std::size_t size);

void* operator new(std::size_t size) {
    noteAllocation(size);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
// The compiler cannot see that the operator new above is malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
