#pragma once

#include <unknwn.h>
#include <wrl/client.h>

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

    // A new object whose one reference the returned owner holds; null when
    // there is no memory. Owned from the start: MinGW's ComPtr::Attach adds a
    // reference (Microsoft's takes one over), so a raw pointer attached later
    // would keep the object alive for good.
    template <typename Derived, typename... Args>
    static Microsoft::WRL::ComPtr<Derived> create(Args&&... args)
    {
        return Microsoft::WRL::ComPtr<Derived>(new (std::nothrow) Derived(std::forward<Args>(args)...));
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
