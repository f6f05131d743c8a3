#ifndef CLOAKCAM_PLATFORM_COM_OBJECT_H
#define CLOAKCAM_PLATFORM_COM_OBJECT_H

// IUnknown written once for the stand-in objects: an atomic reference count
// (GStreamer's threads reach some of them) and QueryInterface answered from
// the interfaces the class lists. A class adds other answers through
// findInterface, and holds only its own state and methods.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <utility>
#include <vector>

// The identifier of each interface a stand-in object implements, given
// beside the interfaces of each kind.
template <typename Interface> const IID &interfaceId();
template <> inline const IID &interfaceId<IPropertyBag>() { return IID_IPropertyBag; }

template <typename First, typename... Others> class ComObject : public First, public Others... {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) final {
        if (!object)
            return E_POINTER;
        *object = riid == IID_IUnknown ? static_cast<First *>(this) : findInterface(riid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() final { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() final {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // The listed interface that `riid` names, or null; a class that answers
    // more (aliases, interfaces it has only sometimes) says so here.
    virtual void *findInterface(REFIID riid) {
        void *found = nullptr;
        ((found = found ? found : listed<First>(riid)), ...,
         (found = found ? found : listed<Others>(riid)));
        return found;
    }

  private:
    template <typename Interface> void *listed(REFIID riid) {
        return riid == interfaceId<Interface>() ? static_cast<Interface *>(this) : nullptr;
    }

    std::atomic<ULONG> refs_{1};
};

// What CoCreateInstance makes: a new object of class T, handed out as `riid`.
template <typename T, typename... Arguments>
HRESULT createObject(REFIID riid, void **object, Arguments &&...arguments) {
    if (!object)
        return E_POINTER;
    T *made = new T(std::forward<Arguments>(arguments)...);
    const HRESULT hr = made->QueryInterface(riid, object);
    made->Release();
    return hr;
}

// An enumerator over `items`, handing out `produce(item)` for each: a new
// reference the caller owns; `letGo`, when given, runs on each item when the
// enumerator goes. Next follows COM's rules: without `fetched`, one item at a
// time; S_FALSE when fewer than asked for were left.
template <typename Enumerator, typename Item, typename Source>
class ComEnumerator final : public ComObject<Enumerator> {
  public:
    using Produce = Item *(*)(const Source &);
    using LetGo = void (*)(const Source &);
    ComEnumerator(std::vector<Source> items, Produce produce, LetGo letGo = nullptr)
        : items_(std::move(items)), produce_(produce), letGo_(letGo) {}

    ~ComEnumerator() override {
        if (letGo_)
            for (const Source &item : items_)
                letGo_(item);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item **out, ULONG *fetched) override {
        if (!out)
            return E_POINTER;
        if (count > 1 && !fetched)
            return E_INVALIDARG;
        ULONG done = 0;
        for (; done < count && next_ < items_.size(); ++done, ++next_)
            out[done] = produce_(items_[next_]);
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }

  private:
    std::vector<Source> items_;
    Produce produce_;
    LetGo letGo_;
    size_t next_ = 0;
};

#endif
