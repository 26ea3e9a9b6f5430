#pragma once

#include <objidl.h>

#include <atomic>

namespace TestSupport {

// Counts the task-memory blocks allocated and not yet freed while it is
// registered. BSTRs come from task memory too, but oleaut32 keeps freed ones
// in a cache unless the environment holds OANOCACHE (on Windows and Wine
// alike), so tests that count strings run with it set.
class MallocSpy : public IMallocSpy {
public:
    MallocSpy() { registered_ = SUCCEEDED(::CoRegisterMallocSpy(this)); }
    ~MallocSpy()
    {
        if (registered_)
            ::CoRevokeMallocSpy();
    }
    MallocSpy(const MallocSpy&) = delete;
    MallocSpy& operator=(const MallocSpy&) = delete;

    bool registered() const { return registered_; }
    long live() const { return live_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMallocSpy)) {
            *object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override
    {
        if (actual != nullptr)
            ++live_;
        return actual;
    }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL spied) override
    {
        if (request != nullptr && spied)
            --live_;
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** actual, BOOL spied) override
    {
        if (request != nullptr && spied)
            --live_;
        *actual = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return PostAlloc(actual); }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    bool registered_ = false;
    std::atomic<long> live_{0};
};

} // namespace TestSupport
