#pragma once

#include <unknwn.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace System::Win32 {

template <typename Interface>
bool isInterface(REFIID iid)
{
    return iid == __uuidof(Interface);
}

// The one COM object base: reference counting and QueryInterface over the
// interfaces a class implements. IUnknown is answered with the first one.
// Objects live on the heap and delete themselves with their last reference.
template <typename First, typename... Rest>
class ComObject : public First, public Rest... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (iid == __uuidof(IUnknown))
            *object = static_cast<First*>(this);
        else
            find<First, Rest...>(iid, object);
        if (*object == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // A new object with one reference, owned by the returned pointer's holder.
    template <typename Derived, typename... Args>
    static Derived* create(Args&&... args)
    {
        auto* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (object != nullptr)
            object->AddRef();
        return object;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    template <typename I, typename... More>
    void find(REFIID iid, void** object)
    {
        if (isInterface<I>(iid)) {
            *object = static_cast<I*>(this);
            return;
        }
        if constexpr (sizeof...(More) > 0)
            find<More...>(iid, object);
    }

    std::atomic<ULONG> references_{0};
};

} // namespace System::Win32
