// The dispatch base, interface table and wrapper on the suite's own test interface.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TarnwickTestDispatch.h"
#include "ccomerror.h"
#include "com/cdispatchfallback.h"
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

// Every function takes a record first: the platform's Invoke refuses them all.
class CHandles : public CIUnknownBase, public CIDispatchBase<ITestHandles, kTestLibrary> {
  public:
    CHandles() {
        AddInterfaceEntry(&__uuidof(ITestHandles), static_cast<ITestHandles*>(this));
        AddInterfaceEntry(&IID_IDispatch, static_cast<ITestHandles*>(this));
    }
    HRESULT STDMETHODCALLTYPE get_Text(TestHandleRecord* record, BSTR* value) override {
        *value = SysAllocString((text_ + L"@" + std::to_wstring(record->Handle)).c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Text(TestHandleRecord*, BSTR value) override {
        text_ = value != nullptr ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBounds(TestHandleRecord* record, LONG* x, LONG* y, LONG* width,
                                        LONG* height) override {
        *x = static_cast<LONG>(record->Handle);
        *y = *x + 1;
        *width = *x + 2;
        *height = *x + 3;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Toggle(TestHandleRecord*, VARIANT_BOOL on,
                                     VARIANT_BOOL* was) override {
        *was = std::exchange(on_, on);
        return S_OK;
    }
    // Handle 2 sets error information.
    HRESULT STDMETHODCALLTYPE Fail(TestHandleRecord* record) override {
        Microsoft::WRL::ComPtr<ICreateErrorInfo> created;
        Microsoft::WRL::ComPtr<IErrorInfo> error;
        if (record->Handle == 2 && SUCCEEDED(CreateErrorInfo(&created)) &&
            SUCCEEDED(created->SetSource(const_cast<LPOLESTR>(L"Handles"))) &&
            SUCCEEDED(created->SetDescription(const_cast<LPOLESTR>(L"no such handle"))) &&
            SUCCEEDED(created.As(&error))) {
            SetErrorInfo(0, error.Get());
        }
        return E_FAIL;
    }

  private:
    std::wstring text_;
    VARIANT_BOOL on_ = VARIANT_FALSE;
};

// Owns the first reference, as a creator does.
template <typename T = Calculator, typename I = ITestCalculator>
struct Created {
    T* object = new T();
    Created() { object->AddRef(); }
    Created(const Created&) = delete;
    Created& operator=(const Created&) = delete;
    ~Created() { object->Release(); }
    IDispatch* Dispatch() const { return static_cast<I*>(object); }
};

HRESULT Invoke(IDispatch* dispatch, DISPID id, WORD kind, std::vector<VARIANT> args,
               VARIANT* result, EXCEPINFO* exception = nullptr, UINT* argumentError = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), kind == DISPATCH_PROPERTYPUT ? &named : nullptr,
                      static_cast<UINT>(args.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    if (result != nullptr) VariantInit(result);
    const HRESULT hr =
        dispatch->Invoke(id, IID_NULL, 0, kind, &params, result, exception, argumentError);
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

TEST_F(DispatchBaseTest, RecordParametersAreCalledFromTheFunctionDescription) {
    Created<CTarnwickIUnknownWrapper<CHandles>, ITestHandles> handles;
    IDispatch* dispatch = handles.Dispatch();
    const auto id = [&](const wchar_t* name) {
        const std::vector<DISPID> ids = IdsOf(dispatch, {name});
        return ids.empty() ? DISPID{-1} : ids[0];
    };
    constexpr GUID kHandleRecord = {
        0x8e1d2c3b, 0x4a59, 0x4f68, {0x8a, 0x7b, 0x9c, 0x0d, 0x1e, 0x2f, 0x3a, 0x4b}};
    const auto record = [&](LONGLONG handle) {
        return MakeRecord(kHandleRecord, {{L"Handle", MakeI8(handle)}});
    };
    VARIANT otherRecord = MakeRecord(kTwoFieldRecord, {{L"B", MakeI4(1)}});
    ASSERT_EQ(otherRecord.vt, VT_RECORD);

    struct Row {
        const wchar_t* member;
        WORD kind;
        std::vector<VARIANT> args;  // last first
        HRESULT hr;
        const wchar_t* result;  // as text, null: empty; of an exception "source:description"
        UINT argumentError = 99;
    };
    wchar_t* const failed = AllocateErrorText(E_FAIL);
    const std::wstring systemText = L":" + std::wstring(failed);
    LocalFree(failed);
    const WORD get = DISPATCH_PROPERTYGET, put = DISPATCH_PROPERTYPUT, call = DISPATCH_METHOD;
    std::vector<Row> rows = {
        {L"Text", put, {MakeString(L"sum"), record(7)}, S_OK, nullptr},
        {L"Text", get, {record(9)}, S_OK, L"sum@9"},
        {L"Toggle", call, {MakeI4(5), record(1)}, S_OK, L"0"},
        {L"Toggle", call, {MakeBool(VARIANT_FALSE), record(1)}, S_OK, L"-1"},
        {L"Fail", call, {record(1)}, DISP_E_EXCEPTION, systemText.c_str()},
        {L"Fail", call, {record(2)}, DISP_E_EXCEPTION, L"Handles:no such handle"},
        {L"Text", get, {}, DISP_E_BADPARAMCOUNT, nullptr},
        {L"Toggle", call, {record(1)}, DISP_E_BADPARAMCOUNT, nullptr},
        {L"Toggle", call, {MakeBool(VARIANT_TRUE), MakeI8(1)}, DISP_E_TYPEMISMATCH, nullptr, 1},
        {L"Text", get, {otherRecord}, DISP_E_TYPEMISMATCH, nullptr, 0},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.member << " kind " << row.kind << " row " << &row - rows.data());
        CTestVariant result;
        EXCEPINFO exception{};
        UINT argumentError = 99;
        EXPECT_EQ(Invoke(dispatch, id(row.member), row.kind, std::move(row.args), &*result,
                         &exception, &argumentError),
                  row.hr);
        EXPECT_EQ(argumentError, row.argumentError);
        CTestVariant text;
        if (row.hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(exception.scode, E_FAIL);
            const auto show = [](BSTR shown) { return std::wstring(shown ? shown : L""); };
            EXPECT_EQ(show(exception.bstrSource) + L":" + show(exception.bstrDescription),
                      row.result);
        } else if (row.result == nullptr) {
            EXPECT_EQ(result->vt, VT_EMPTY);
        } else {
            EXPECT_EQ(VariantChangeType(&*text, &*result, 0, VT_BSTR), S_OK);
            if (text->vt == VT_BSTR) {
                EXPECT_STREQ(text->bstrVal, row.result);
            }
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }

    // [out] values go back through the caller's references, a record may come by reference.
    LONG bounds[3] = {};
    CTestVariant height;
    CTestVariant byReference(record(5));
    std::vector<VARIANT> args(5);
    for (int i = 0; i < 3; ++i) {
        args[i + 1] = MakeVariant(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &bounds[2 - i]; });
    }
    args[0] = MakeVariant(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &*height; });
    args[4] = MakeVariant(VT_BYREF | VT_RECORD, [&](VARIANT& v) {
        v.pvRecord = byReference->pvRecord;
        v.pRecInfo = byReference->pRecInfo;
    });
    const std::uint64_t before = CDispatchFallback::CallCount();
    DISPPARAMS params{args.data(), nullptr, 5, 0};
    EXPECT_EQ(dispatch->Invoke(id(L"GetBounds"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                               nullptr, nullptr),
              S_OK);
    EXPECT_EQ(std::vector<LONG>(bounds, bounds + 3), (std::vector<LONG>{5, 6, 7}));
    EXPECT_EQ(height->vt, VT_I4);
    EXPECT_EQ(height->lVal, 8);

    // Functions without a record stay with the platform's Invoke.
    Created<> calculator;
    VARIANT sum;
    EXPECT_EQ(CallAdd(calculator.Dispatch(), 1, 2, &sum), S_OK);
    EXPECT_EQ(CDispatchFallback::CallCount(), before + 1);
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
