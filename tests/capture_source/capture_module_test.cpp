// The capture source's exports and its shared camera table, through the real
// DLL: registration bookkeeping (table, class keys, category), class objects,
// a hostile table and a table mutex held or abandoned by another process.
#include <gtest/gtest.h>
#define NO_DSHOW_STRSAFE
#include <dshow.h>
#include <objbase.h>

#include <cstring>

#include "capture_source/capture_rig.h"
#include "win32/mapped_view.h"

namespace orvo::test {
namespace {

#pragma pack(push, 1)
struct TableView {
    int32_t count;
    struct {
        GUID clsid;
        GUID kind;
        uint32_t deviceId;
    } entries[512];
};
#pragma pack(pop)
static_assert(sizeof(TableView) == 18436, "the table's layout");

class CaptureModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

    void SetUp() override {
        ASSERT_TRUE(dll.Load());
    }
    // A view of the shared table as another process sees it.
    TableView* Table() {
        if (!m_view) {
            m_mapping.reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kTableMappingName));
            if (m_mapping) m_view.reset(::MapViewOfFile(m_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        }
        return static_cast<TableView*>(m_view.get());
    }
    int CountOf(const CLSID& clsid) {
        int n = 0;
        TableView* t = Table();
        for (int i = 0; t && i < t->count && i < 512; ++i) n += t->entries[i].clsid == clsid ? 1 : 0;
        return n;
    }
    HRESULT ClassObject(const CLSID& clsid, IClassFactory** factory) {
        return dll.DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
    }

    SourceDll dll;
    win32::UniqueHandle m_mapping;
    win32::MappedView m_view;
};

TEST_F(CaptureModuleTest, RegistrationNeedsTheTableAndChecksItsArguments) {
    const CLSID clsid = NewClsid();
    // Each test process loads the DLL fresh: no table yet.
    EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 1, L"Unmapped camera"), kErrNotMapped);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + ClsidText(clsid)));
    ASSERT_EQ(dll.Initialize(), S_OK);
    EXPECT_EQ(dll.Initialize(), S_OK);
    EXPECT_EQ(dll.RegisterCamera(nullptr, &kKindGeneral, 1, L"x"), E_INVALIDARG);
    EXPECT_EQ(dll.RegisterCamera(&clsid, nullptr, 1, L"x"), E_INVALIDARG);
    EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(dll.UnregisterCamera(nullptr), E_INVALIDARG);
    EXPECT_EQ(CountOf(clsid), 0);
    EXPECT_EQ(dll.DllRegisterServer(), S_OK);
    EXPECT_EQ(dll.DllUnregisterServer(), S_OK);
}

TEST_F(CaptureModuleTest, RegisterWritesTableKeysAndCategoryAndUnregisterRemovesThem) {
    ASSERT_EQ(dll.Initialize(), S_OK);
    const CLSID clsid = NewClsid();
    const std::wstring name = UniqueSerial(L"Cam");
    const std::wstring key = L"CLSID\\" + ClsidText(clsid);
    ASSERT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 7, name.c_str()), S_OK);
    EXPECT_EQ(CountOf(clsid), 1);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, nullptr), name);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr), BinFolder() + L"OrvoVistrel.dll");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_EQ(CategoryEntries(name).size(), 1u);

    // Again with the same kind and id: no second entry, S_OK.
    EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 7, name.c_str()), S_OK);
    EXPECT_EQ(CountOf(clsid), 1);
    // Another device id or kind: refused, the first registration stays.
    EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 8, L"Other"), kErrConflict);
    EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindCedar, 7, L"Other"), kErrConflict);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, nullptr), name);
    EXPECT_EQ(CountOf(clsid), 1);

    EXPECT_EQ(dll.UnregisterCamera(&clsid), S_OK);
    EXPECT_EQ(CountOf(clsid), 0);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
    EXPECT_TRUE(CategoryEntries(name).empty());
    // Gone already: still success, so a stale bookkeeping value can be cleared.
    EXPECT_EQ(dll.UnregisterCamera(&clsid), S_OK);
    const CLSID never = NewClsid();
    EXPECT_EQ(dll.UnregisterCamera(&never), S_OK);
}

TEST_F(CaptureModuleTest, ClassObjectsComeOnlyFromTheTable) {
    ASSERT_EQ(dll.Initialize(), S_OK);
    EXPECT_EQ(dll.DllGetClassObject(NewClsid(), IID_IClassFactory, nullptr), E_INVALIDARG);
    // Class keys without a table entry do not make a class.
    const CLSID clsid = NewClsid();
    ASSERT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 3, L"Keys only"), S_OK);
    {
        TableView* t = Table();
        ASSERT_NE(t, nullptr);
        win32::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kTableMutexName));
        ::WaitForSingleObject(mutex.get(), 5000);
        for (int i = 0; i < t->count; ++i) {
            if (t->entries[i].clsid == clsid) {
                std::memmove(&t->entries[i], &t->entries[i + 1], size_t(t->count - i - 1) * 36);
                --t->count;
                break;
            }
        }
        ::ReleaseMutex(mutex.get());
    }
    IClassFactory* factory = nullptr;
    EXPECT_EQ(ClassObject(clsid, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(dll.UnregisterCamera(&clsid), S_OK);

    // A registered class: a factory; other interfaces refused; aggregation refused.
    const CLSID registered = NewClsid();
    ASSERT_EQ(dll.RegisterCamera(&registered, &kKindGeneral, 3, L"Factory camera"), S_OK);
    void* other = nullptr;
    EXPECT_EQ(dll.DllGetClassObject(registered, IID_IBaseFilter, &other), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(ClassObject(registered, &factory), S_OK);
    EXPECT_EQ(dll.DllCanUnloadNow(), S_FALSE);
    IUnknown* filter = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                      reinterpret_cast<void**>(&filter)),
              E_NOTIMPL);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_INVALIDARG);
    EXPECT_EQ(factory->QueryInterface(IID_IBaseFilter, &other), E_NOINTERFACE);
    factory->Release();
    EXPECT_EQ(dll.DllCanUnloadNow(), S_OK);
    EXPECT_EQ(dll.UnregisterCamera(&registered), S_OK);
}

// Another process may write anything into the table: counts out of range
// and garbage entries are read within bounds.
TEST_F(CaptureModuleTest, AHostileTableIsReadWithinBounds) {
    ASSERT_EQ(dll.Initialize(), S_OK);
    TableView* t = Table();
    ASSERT_NE(t, nullptr);
    const TableView saved = *t;
    for (int32_t count : {-1, 100000, 512}) {
        SCOPED_TRACE(count);
        std::memset(t->entries, 0xA7, sizeof(t->entries));
        t->count = count;
        const CLSID clsid = NewClsid();
        IClassFactory* factory = nullptr;
        EXPECT_EQ(ClassObject(clsid, &factory), CLASS_E_CLASSNOTAVAILABLE);
        const HRESULT hr = dll.RegisterCamera(&clsid, &kKindGeneral, 1, L"Hostile");
        if (count == -1) {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(t->count, 1);
            EXPECT_EQ(ClassObject(clsid, &factory), S_OK);
            if (factory) factory->Release();
        } else {
            EXPECT_EQ(hr, E_FAIL);  // full
        }
        EXPECT_EQ(dll.UnregisterCamera(&clsid), S_OK);
        // Nothing written outside the entries a clamped count allows.
        EXPECT_EQ(t->count, count == -1 ? 0 : count);
    }
    *t = saved;
}

TEST_F(CaptureModuleTest, ATableFullAtFiveHundredTwelveRefusesTheNext) {
    ASSERT_EQ(dll.Initialize(), S_OK);
    TableView* t = Table();
    ASSERT_NE(t, nullptr);
    const TableView saved = *t;
    for (int i = t->count; i < 511; ++i) t->entries[i] = {NewClsid(), kKindGeneral, 1};
    t->count = 511;
    const CLSID last = NewClsid(), extra = NewClsid();
    EXPECT_EQ(dll.RegisterCamera(&last, &kKindGeneral, 1, L"Last"), S_OK);
    EXPECT_EQ(t->count, 512);
    EXPECT_EQ(dll.RegisterCamera(&extra, &kKindGeneral, 1, L"Extra"), E_FAIL);
    EXPECT_EQ(t->count, 512);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + ClsidText(extra)));
    // Removing the first of three keeps the others in order.
    const GUID second = t->entries[1].clsid, third = t->entries[2].clsid;
    const CLSID first = t->entries[0].clsid;
    EXPECT_EQ(dll.UnregisterCamera(&first), S_OK);
    EXPECT_EQ(t->entries[0].clsid, second);
    EXPECT_EQ(t->entries[1].clsid, third);
    EXPECT_EQ(dll.UnregisterCamera(&last), S_OK);
    *t = saved;
}

// A process that keeps the table mutex makes every table operation of
// others give up after 3 s; one
// that dies owning it blocks nobody.
TEST_F(CaptureModuleTest, TableMutexHeldOrAbandonedByAnotherProcess) {
    ASSERT_EQ(dll.Initialize(), S_OK);
    const CLSID clsid = NewClsid();
    {
        const std::wstring readyName = UniqueName(L"capture_hold");
        win32::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        ChildProcess holder;
        ASSERT_TRUE(holder.Start(ExeFolder() + L"graph_app\\capture_peer.exe", L"hold-mutex " + readyName + L" 12000"));
        ASSERT_EQ(::WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 1, L"Blocked"), kErrTableLock);
        const ULONGLONG waited = ::GetTickCount64() - start;
        EXPECT_GE(waited, 2900u);
        EXPECT_EQ(dll.UnregisterCamera(&clsid), kErrTableLock);
        IClassFactory* factory = nullptr;
        EXPECT_EQ(ClassObject(clsid, &factory), E_UNEXPECTED);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + ClsidText(clsid)));
        EXPECT_EQ(holder.Wait(30000), 0);
    }
    {
        const std::wstring readyName = UniqueName(L"capture_die");
        win32::UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        ChildProcess holder;
        ASSERT_TRUE(holder.Start(ExeFolder() + L"graph_app\\capture_peer.exe", L"die-holding " + readyName));
        ASSERT_EQ(::WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0);
        EXPECT_EQ(holder.Wait(30000), 7);
        EXPECT_EQ(dll.RegisterCamera(&clsid, &kKindGeneral, 1, L"After abandon"), S_OK);
        EXPECT_EQ(dll.UnregisterCamera(&clsid), S_OK);
    }
}

}  // namespace
}  // namespace orvo::test
