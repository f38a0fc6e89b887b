// The dispatch base, interface table and wrapper on the suite's own test interface.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TarnwickTestDispatch.h"
#include "com/cidispatchbase.h"
#include "com/ciunknownbase.h"
#include "com/ctypelibresolutionservice.h"
#include "marshalling/marshallingtest.h"
#include "support/tempdirectory.h"
#include "translators/ctarnwickiunknownwrapper.h"

namespace tarnwick {

// Library names as the dispatch bases of the test objects are given them.
extern const wchar_t kTestLibrary[] = L"TarnwickTestDispatch";
extern const wchar_t kLateLibrary[] = L"TarnwickLateDispatch.dll";

namespace {

using namespace test;

std::atomic<int> g_destroyed{0};

template <const wchar_t* Library>
class CCalculator : public CIUnknownBase, public CIDispatchBase<ITestCalculator, Library> {
  public:
    CCalculator() {
        AddInterfaceEntry(&__uuidof(ITestCalculator), static_cast<ITestCalculator*>(this));
        AddInterfaceEntry(&IID_IDispatch, static_cast<ITestCalculator*>(this));
    }
    ~CCalculator() override { ++g_destroyed; }

    HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override {
        *sum = a + b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Fail(LONG code) override { return static_cast<HRESULT>(code); }
    HRESULT STDMETHODCALLTYPE get_Label(BSTR* value) override {
        *value = SysAllocString(label_.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Label(BSTR value) override {
        label_ = value != nullptr ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Paint(SAFEARRAY**, TestColour*) override { return E_NOTIMPL; }

  private:
    std::wstring label_;
};

using Calculator = CTarnwickIUnknownWrapper<CCalculator<kTestLibrary>>;

// Owns the first reference, as a creator does.
template <typename T = Calculator>
struct Created {
    T* object = new T();
    Created() { object->AddRef(); }
    Created(const Created&) = delete;
    Created& operator=(const Created&) = delete;
    ~Created() { object->Release(); }
    IDispatch* Dispatch() const { return static_cast<ITestCalculator*>(object); }
};

HRESULT Invoke(IDispatch* dispatch, DISPID id, WORD kind, std::vector<VARIANT> args,
               VARIANT* result, EXCEPINFO* exception = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), kind == DISPATCH_PROPERTYPUT ? &named : nullptr,
                      static_cast<UINT>(args.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    if (result != nullptr) VariantInit(result);
    const HRESULT hr = dispatch->Invoke(id, IID_NULL, 0, kind, &params, result, exception, nullptr);
    for (VARIANT& arg : args) VariantClear(&arg);
    return hr;
}

HRESULT CallAdd(IDispatch* dispatch, LONG a, LONG b, VARIANT* result) {
    return Invoke(dispatch, 1, DISPATCH_METHOD, {MakeI4(b), MakeI4(a)}, result);
}

// The ids GetIDsOfNames answers for the names; empty when it fails.
std::vector<DISPID> IdsOf(IDispatch* dispatch, std::vector<std::wstring> names) {
    std::vector<LPOLESTR> pointers;
    for (std::wstring& name : names) pointers.push_back(name.data());
    std::vector<DISPID> ids(names.size(), -5);
    const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, pointers.data(),
                                               static_cast<UINT>(ids.size()), 0, ids.data());
    return hr == S_OK ? ids : std::vector<DISPID>{};
}

// Finds the suite's test type library.
using DispatchBaseTest = MarshallingTest;

TEST_F(DispatchBaseTest, InvokesThroughTheTypeInformation) {
    Created<> calculator;
    VARIANT result;
    ASSERT_EQ(CallAdd(calculator.Dispatch(), 2, 40, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);

    // Property put with its named argument, then get.
    IDispatch* dispatch = calculator.Dispatch();
    EXPECT_EQ(Invoke(dispatch, 3, DISPATCH_PROPERTYPUT, {MakeString(L"sum")}, nullptr), S_OK);
    CTestVariant label;
    ASSERT_EQ(Invoke(dispatch, 3, DISPATCH_PROPERTYGET, {}, &*label), S_OK);
    ASSERT_EQ(label->vt, VT_BSTR);
    EXPECT_STREQ(label->bstrVal, L"sum");

    // A failing method comes back as an exception that carries its code.
    EXCEPINFO exception{};
    EXPECT_EQ(Invoke(dispatch, 2, DISPATCH_METHOD, {MakeI4(E_ACCESSDENIED)}, nullptr, &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_ACCESSDENIED);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

TEST_F(DispatchBaseTest, NamesResolveFromTheCacheOrTheTypeInformation) {
    Created<> calculator;
    IDispatch* dispatch = calculator.Dispatch();
    EXPECT_EQ(IdsOf(dispatch, {L"Add"}), std::vector<DISPID>{1});
    DISPID cached = 0;
    EXPECT_FALSE(calculator.object->Holder().FindName(L"ADD", &cached)) << "the cache keeps case";
    EXPECT_EQ(IdsOf(dispatch, {L"ADD"}), std::vector<DISPID>{1})
        << "a case-different name is answered by the type information";
    EXPECT_EQ(IdsOf(dispatch, {L"Add", L"b"}), (std::vector<DISPID>{1, 1}))
        << "b is the second parameter";
    EXPECT_EQ(IdsOf(dispatch, {L"Label"}), std::vector<DISPID>{3});
}

TEST_F(DispatchBaseTest, AnUnknownLibraryFailsUntilItBecomesKnown) {
    for (const auto& [given, normal] : {std::pair{L"Views.DLL", L"Views.tlb"},
                                        {L"Views.TLB", L"Views.TLB"},
                                        {L"Views", L"Views.tlb"},
                                        {L"Views.dll.tlb", L"Views.dll.tlb"}}) {
        EXPECT_EQ(TypeInfoHolder::NormaliseLibraryName(given), normal);
    }

    Created<CTarnwickIUnknownWrapper<CCalculator<kLateLibrary>>> calculator;
    VARIANT result;
    EXPECT_EQ(CallAdd(calculator.Dispatch(), 1, 2, &result), static_cast<HRESULT>(0x800710CD));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfo(0, 0, &info), static_cast<HRESULT>(0x800710CD));
    EXPECT_EQ(info, nullptr);

    CTempDirectory folder;
    ASSERT_TRUE(folder.CopyIn(ExecutableDirectory() + L"\\testdata\\TarnwickTestDispatch.tlb",
                              L"TarnwickLateDispatch.tlb"));
    GetTypeLibResolutionService()->AddSearchDirectory(folder.Path().c_str());
    ASSERT_EQ(CallAdd(calculator.Dispatch(), 1, 2, &result), S_OK);
    EXPECT_EQ(result.lVal, 3);
}

TEST_F(DispatchBaseTest, FirstUseFromManyThreadsLoadsOnce) {
    Created<> calculator;
    std::atomic<int> ready{0};
    std::atomic<int> succeeded{0};
    std::vector<ITypeInfo*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < 8) std::this_thread::yield();
            VARIANT result;
            if (CallAdd(calculator.Dispatch(), t, 1, &result) == S_OK && result.lVal == t + 1) {
                ++succeeded;
            }
            // Any index answers the one type information.
            calculator.Dispatch()->GetTypeInfo(static_cast<UINT>(t), 0, &seen[t]);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(succeeded.load(), 8);
    ASSERT_NE(seen[0], nullptr);
    for (ITypeInfo* info : seen) {
        EXPECT_EQ(info, seen[0]);
        if (info != nullptr) info->Release();
    }
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfo(0, 0, nullptr), E_POINTER);
    // The holder keeps exactly one reference of its own.
    ITypeInfo* info = calculator.object->Holder().TypeInfo();
    ASSERT_NE(info, nullptr);
    const ULONG before = ReferencesOf(info);
    {
        Created<> other;
        ITypeInfo* mine = nullptr;
        ASSERT_EQ(other.Dispatch()->GetTypeInfo(0, 0, &mine), S_OK);
        mine->Release();
    }
    EXPECT_EQ(ReferencesOf(info), before) << "a destroyed object returns the reference it held";
}

TEST(UnknownBase, QueryInterfaceAnswersFromTheTableAndTheLastReleaseDestroys) {
    const int destroyed = g_destroyed.load();
    auto calculator = std::make_unique<Created<>>();
    auto* object = static_cast<CIUnknownBase*>(calculator->object);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &__uuidof(ITestCalculator)}) {
        void* answered = nullptr;
        ASSERT_EQ(CIUnknownBase::QueryInterface(object, *iid, &answered), S_OK);
        EXPECT_EQ(answered, static_cast<void*>(calculator->Dispatch()));
        EXPECT_EQ(object->ReferenceCount(), 2u);
        static_cast<IUnknown*>(answered)->Release();
    }

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CIUnknownBase::QueryInterface(object, IID_IStream, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CIUnknownBase::QueryInterface(object, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CIUnknownBase::QueryInterface(nullptr, IID_IUnknown, &none), E_INVALIDARG);
    EXPECT_EQ(object->ReferenceCount(), 1u);
    EXPECT_EQ(g_destroyed.load(), destroyed);
    calculator.reset();
    EXPECT_EQ(g_destroyed.load(), destroyed + 1);
}

TEST(UnknownBase, TableHoldsNineteenEntriesAndReleaseNeverDestroys) {
    CIUnknownBase base;
    for (int i = 0; i < 25; ++i) base.AddInterfaceEntry(&IID_IStream, 0);
    EXPECT_EQ(base.EntryCount(), 19u);
    EXPECT_EQ(base.InternalRelease(), 0u) << "and the object on the stack lives on";
}

}  // namespace
}  // namespace tarnwick
