// The dispatch base, the interface table and the wrapper, on a test interface of the suite's
// own type library (its Invoke path needs no record parameters).
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
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

HRESULT CallAdd(IDispatch* dispatch, LONG a, LONG b, VARIANT* result) {
    VARIANT args[2] = {test::MakeI4(b), test::MakeI4(a)};  // arguments travel last first
    DISPPARAMS params{args, nullptr, 2, 0};
    VariantInit(result);
    return dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
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
using DispatchBaseTest = test::MarshallingTest;

TEST_F(DispatchBaseTest, InvokesThroughTheTypeInformation) {
    Created<> calculator;
    VARIANT result;
    ASSERT_EQ(CallAdd(calculator.Dispatch(), 2, 40, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);

    // Property put with its named argument, then get.
    VARIANT value = test::MakeString(L"sum");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    EXPECT_EQ(calculator.Dispatch()->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr,
                                            nullptr, nullptr),
              S_OK);
    VariantClear(&value);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    test::CTestVariant label;
    ASSERT_EQ(calculator.Dispatch()->Invoke(3, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &*label,
                                            nullptr, nullptr),
              S_OK);
    ASSERT_EQ(label->vt, VT_BSTR);
    EXPECT_STREQ(label->bstrVal, L"sum");
}

TEST_F(DispatchBaseTest, AFailingMethodReachesTheLateBoundCaller) {
    Created<> calculator;
    VARIANT code = test::MakeI4(E_ACCESSDENIED);
    DISPPARAMS params{&code, nullptr, 1, 0};
    EXCEPINFO exception{};
    const HRESULT hr = calculator.Dispatch()->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params,
                                                     nullptr, &exception, nullptr);
    // The method's failure comes back as an exception that carries its code.
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_ACCESSDENIED);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

TEST_F(DispatchBaseTest, NamesResolveFromTheCacheOrTheTypeInformation) {
    Created<> calculator;
    IDispatch* dispatch = calculator.Dispatch();
    EXPECT_EQ(IdsOf(dispatch, {L"Add"}), std::vector<DISPID>{1});
    const TypeInfoHolder& holder = calculator.object->Holder();
    ASSERT_TRUE(holder.HasNameCache());
    DISPID cached = 0;
    EXPECT_TRUE(holder.FindName(L"Label", &cached));
    EXPECT_EQ(cached, 3);
    EXPECT_FALSE(holder.FindName(L"ADD", &cached)) << "the cache compares letter case";
    EXPECT_FALSE(holder.FindName(L"", &cached));

    EXPECT_EQ(IdsOf(dispatch, {L"ADD"}), std::vector<DISPID>{1})
        << "a case-different name is answered by the type information";
    EXPECT_EQ(IdsOf(dispatch, {L"Add", L"b"}), (std::vector<DISPID>{1, 1}))
        << "b is the second parameter";
    EXPECT_EQ(IdsOf(dispatch, {L"Label"}), std::vector<DISPID>{3});
}

TEST_F(DispatchBaseTest, AnUnknownLibraryFailsUntilItBecomesKnown) {
    EXPECT_EQ(TypeInfoHolder::NormaliseLibraryName(L"Views.DLL"), L"Views.tlb");
    EXPECT_EQ(TypeInfoHolder::NormaliseLibraryName(L"Views.TLB"), L"Views.TLB");
    EXPECT_EQ(TypeInfoHolder::NormaliseLibraryName(L"Views"), L"Views.tlb");
    EXPECT_EQ(TypeInfoHolder::NormaliseLibraryName(L"Views.dll.tlb"), L"Views.dll.tlb");

    Created<CTarnwickIUnknownWrapper<CCalculator<kLateLibrary>>> calculator;
    VARIANT result;
    const HRESULT unknown = CallAdd(calculator.Dispatch(), 1, 2, &result);
    EXPECT_EQ(unknown, static_cast<HRESULT>(0x800710CD));
    EXPECT_TRUE(FAILED(unknown));
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfo(0, 0, &info), static_cast<HRESULT>(0x800710CD));
    EXPECT_EQ(info, nullptr);

    test::CTempDirectory folder;
    ASSERT_TRUE(folder.CopyIn(test::ExecutableDirectory() + L"\\testdata\\TarnwickTestDispatch.tlb",
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
    UINT count = 0;
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(calculator.Dispatch()->GetTypeInfo(0, 0, nullptr), E_POINTER);
    // The holder keeps exactly one reference of its own.
    ITypeInfo* info = calculator.object->Holder().TypeInfo();
    ASSERT_NE(info, nullptr);
    const ULONG before = test::ReferencesOf(info);
    {
        Created<> other;
        ITypeInfo* mine = nullptr;
        ASSERT_EQ(other.Dispatch()->GetTypeInfo(0, 0, &mine), S_OK);
        mine->Release();
    }
    EXPECT_EQ(test::ReferencesOf(info), before)
        << "a destroyed object returns the reference it held";
}

TEST(UnknownBase, QueryInterfaceAnswersFromTheTable) {
    Created<> calculator;
    auto* object = static_cast<CIUnknownBase*>(calculator.object);
    void* unknown = nullptr;
    void* dispatch = nullptr;
    void* typed = nullptr;
    ASSERT_EQ(CIUnknownBase::QueryInterface(object, IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(CIUnknownBase::QueryInterface(object, IID_IDispatch, &dispatch), S_OK);
    ASSERT_EQ(calculator.Dispatch()->QueryInterface(__uuidof(ITestCalculator), &typed), S_OK);
    EXPECT_EQ(unknown, dispatch);
    EXPECT_EQ(typed, static_cast<void*>(calculator.Dispatch()));
    EXPECT_EQ(object->ReferenceCount(), 4u);
    for (void* p : {unknown, dispatch, typed}) static_cast<IUnknown*>(p)->Release();

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CIUnknownBase::QueryInterface(object, IID_IStream, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CIUnknownBase::QueryInterface(object, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CIUnknownBase::QueryInterface(nullptr, IID_IUnknown, &none), E_INVALIDARG);
    EXPECT_EQ(object->ReferenceCount(), 1u);
}

TEST(UnknownBase, TableHoldsNineteenEntriesAndReleaseNeverDestroys) {
    CIUnknownBase base;
    for (int i = 0; i < 25; ++i) base.AddInterfaceEntry(&IID_IStream, 0);
    EXPECT_EQ(base.EntryCount(), 19u);
    EXPECT_EQ(base.Entry(19).kind, 0);
    EXPECT_EQ(base.Entry(18).kind, 1);
    EXPECT_EQ(base.InternalRelease(), 0u);
    EXPECT_EQ(base.ReferenceCount(), 0u);
    EXPECT_EQ(base.InternalAddRef(), 1u);
}

TEST(UnknownBase, TheWrapperDestroysOnTheLastRelease) {
    const int before = g_destroyed.load();
    auto* calculator = new Calculator();
    IDispatch* dispatch = static_cast<ITestCalculator*>(calculator);
    EXPECT_EQ(dispatch->AddRef(), 1u);
    EXPECT_EQ(dispatch->AddRef(), 2u);
    EXPECT_EQ(dispatch->Release(), 1u);
    EXPECT_EQ(g_destroyed.load(), before);
    EXPECT_EQ(dispatch->Release(), 0u);
    EXPECT_EQ(g_destroyed.load(), before + 1);
}

}  // namespace
}  // namespace tarnwick
