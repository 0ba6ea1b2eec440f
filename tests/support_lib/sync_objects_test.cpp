// Named synchronisation objects: names, kinds, the mutex's three ways to a
// handle, the construction failure, abandoned mutexes and the scoped lock.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <thread>

#include "support/child_process.h"
#include "support/sync/shared_security.h"
#include "support/sync/zel_sync_object.h"
#include "win32/unique_handle.h"
#include "win32/unique_local.h"

namespace orvo {
namespace {

using test::UniqueName;

// True when another thread can take the object right now.
bool OtherThreadCanTake(HANDLE handle) {
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = ::WaitForSingleObject(handle, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ::ReleaseMutex(handle);
    }).join();
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

TEST(SyncObjectNames, UnnamedObjectsGetTheBaseClassPatternAndStayUnnamed) {
    CZelMutex mutexA(false, nullptr);
    CZelMutex mutexB(false, L"");
    CZelEvent event(false, true, nullptr, nullptr);
    CZelCriticalSection section;
    const CZelSyncObject* objects[] = {&mutexA, &mutexB, &event, &section};
    for (const CZelSyncObject* object : objects) {
        EXPECT_STREQ(object->GetName(), L"_Unnamed_CZelSyncObject_");
    }
    // Two unnamed mutexes are two kernel objects.
    ASSERT_TRUE(mutexA.Lock(0));
    EXPECT_TRUE(OtherThreadCanTake(mutexB.Handle()));
    EXPECT_FALSE(OtherThreadCanTake(mutexA.Handle()));
    EXPECT_TRUE(mutexA.Unlock());

    const std::wstring name = UniqueName(L"ZelSyncName");
    CZelMutex named(false, name.c_str());
    EXPECT_EQ(std::wstring(named.GetName()), name);
}

TEST(SyncObjectNames, ClassNamesAndKinds) {
    CZelMutex mutex(false, nullptr);
    CZelEvent event(false, false, nullptr, nullptr);
    CZelCriticalSection section;
    CZelSingleLock single(&section, false);

    EXPECT_STREQ(mutex.GetClassName(), L"CZelMutex");
    EXPECT_STREQ(event.GetClassName(), L"CZelSyncObject");
    EXPECT_STREQ(section.GetClassName(), L"CZelCriticalSection");

    EXPECT_TRUE(mutex.IsKindOf(L"czelmutex"));
    EXPECT_TRUE(mutex.IsKindOf(L"CZelSyncObject"));
    EXPECT_FALSE(mutex.IsKindOf(L"CZelCriticalSection"));
    EXPECT_TRUE(event.IsKindOf(L"CZelSyncObject"));
    EXPECT_FALSE(event.IsKindOf(L"CZelEvent"));
    EXPECT_TRUE(section.IsKindOf(L"CZELCRITICALSECTION"));
    EXPECT_TRUE(section.IsKindOf(L"CZelSyncObject"));
    EXPECT_FALSE(section.IsKindOf(L"CZelMutex"));
    EXPECT_TRUE(single.IsKindOf(L"CZelSingleLock"));
    EXPECT_FALSE(single.IsKindOf(L"CZelSyncObject"));
    for (const wchar_t* bad : {static_cast<const wchar_t*>(nullptr), L""}) {
        EXPECT_FALSE(mutex.IsKindOf(bad));
        EXPECT_FALSE(event.IsKindOf(bad));
        EXPECT_FALSE(section.IsKindOf(bad));
        EXPECT_FALSE(single.IsKindOf(bad));
    }
    // The counted Unlock does nothing, successfully, everywhere.
    LONG previous = 77;
    EXPECT_TRUE(mutex.Unlock(1, &previous));
    EXPECT_TRUE(section.Unlock(1, nullptr));
    EXPECT_EQ(previous, 77);
}

TEST(MutexConstruction, ExistingMutexIsOpenedAndTheOwnedFlagIgnored) {
    const std::wstring name = UniqueName(L"ZelSyncExisting");
    win32::UniqueHandle existing(::CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(existing);
    CZelMutex mutex(true, name.c_str());
    EXPECT_TRUE(OtherThreadCanTake(mutex.Handle())) << "opening an existing mutex must not take it";
    EXPECT_TRUE(mutex.Lock(0));
    EXPECT_FALSE(OtherThreadCanTake(existing.get())) << "both handles name one mutex";
    EXPECT_TRUE(mutex.Unlock()) << "the handle carries full access";
}

TEST(MutexConstruction, NewMutexIsCreatedOwnedWhenAsked) {
    CZelMutex owned(true, UniqueName(L"ZelSyncOwned").c_str());
    EXPECT_FALSE(OtherThreadCanTake(owned.Handle()));
    EXPECT_TRUE(owned.Unlock());
    EXPECT_TRUE(OtherThreadCanTake(owned.Handle()));
}

TEST(MutexConstruction, MutexGrantingOnlySynchronizeIsStillReached) {
    const std::wstring name = UniqueName(L"ZelSyncOnly");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1,
                                                                       &descriptor, nullptr));
    win32::UniqueLocal freeDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    win32::UniqueHandle existing(::CreateMutexW(&attributes, FALSE, name.c_str()));
    ASSERT_TRUE(existing);
    ASSERT_FALSE(win32::UniqueHandle(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str())))
        << "the descriptor must deny full access for this test to mean anything";

    CZelMutex mutex(false, name.c_str());
    EXPECT_TRUE(mutex.Lock(1000)) << "waiting needs no more than SYNCHRONIZE";
    EXPECT_FALSE(OtherThreadCanTake(existing.get()));
}

TEST(MutexConstruction, FailureThrowsTheSynchronizationFailure) {
    const std::wstring name = UniqueName(L"ZelSyncTaken");
    win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event);
    const char* thrown = nullptr;
    try {
        CZelMutex mutex(false, name.c_str());
    } catch (const char* failure) {
        thrown = failure;
    }
    ASSERT_NE(thrown, nullptr) << "a name held by an event cannot become a mutex";
    EXPECT_STREQ(thrown, "Zel Synchronization Failure");

    const std::wstring mutexName = UniqueName(L"ZelSyncTakenByMutex");
    win32::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    thrown = nullptr;
    try {
        CZelEvent clash(false, false, mutexName.c_str(), nullptr);
    } catch (const char* failure) {
        thrown = failure;
    }
    EXPECT_STREQ(thrown, "Zel Synchronization Failure");
}

TEST(MutexLocking, AbandonedMutexCountsAsAcquired) {
    CZelMutex mutex(false, UniqueName(L"ZelSyncAbandoned").c_str());
    std::thread([&] { ASSERT_TRUE(mutex.Lock(0)); }).join();  // ends while owning it
    EXPECT_TRUE(mutex.Lock(1000));
    EXPECT_TRUE(mutex.Unlock());
}

TEST(MutexLocking, TimeOutIsFalse) {
    CZelMutex mutex(true, UniqueName(L"ZelSyncHeld").c_str());
    bool taken = true;
    std::thread([&] { taken = mutex.Lock(20); }).join();
    EXPECT_FALSE(taken);
}

TEST(EventLocking, LockWaitsForTheSignalAndUnlockDoesNothing) {
    const std::wstring name = UniqueName(L"ZelSyncEvent");
    CZelEvent event(false, false, name.c_str(), nullptr);
    EXPECT_FALSE(event.Lock(0));
    CZelEvent same(false, false, name.c_str(), nullptr);  // opens the existing event
    ASSERT_TRUE(same.Set());
    EXPECT_TRUE(event.Lock(0));
    EXPECT_FALSE(event.Lock(0)) << "auto-reset";
    EXPECT_TRUE(event.Unlock());
    EXPECT_FALSE(event.Lock(0));
}

// A sync object that records how it is used.
class RecordingSync : public CZelSyncObject {
public:
    RecordingSync() : CZelSyncObject(L"recording") {}
    bool Lock(DWORD timeoutMs) override {
        lastTimeout = timeoutMs;
        return lockResult;
    }
    bool Unlock() override {
        ++unlocks;
        return unlockResult;
    }
    bool lockResult = true;
    bool unlockResult = true;
    DWORD lastTimeout = 0;
    int unlocks = 0;
};

TEST(SingleLock, LocksAtConstructionAndUnlocksOnlyWhatItAcquired) {
    RecordingSync sync;
    {
        CZelSingleLock lock(&sync);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_EQ(sync.lastTimeout, INFINITE);
    }
    EXPECT_EQ(sync.unlocks, 1);

    sync.lockResult = false;
    {
        CZelSingleLock lock(&sync);
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(lock.Unlock());
    }
    EXPECT_EQ(sync.unlocks, 1) << "an object never acquired is never released";

    // A failed release keeps the holder locked, and it tries again at the end.
    sync.lockResult = true;
    sync.unlockResult = false;
    {
        CZelSingleLock lock(&sync);
        EXPECT_FALSE(lock.Unlock());
        EXPECT_TRUE(lock.IsLocked());
        sync.unlockResult = true;
    }
    EXPECT_EQ(sync.unlocks, 3);
}

TEST(SingleLock, CriticalSectionIgnoresTheTimeOut) {
    CZelCriticalSection section;
    CZelSingleLock lock(&section);
    bool enteredLater = false;
    std::thread other([&] {
        CZelSingleLock blocked(&section, false);
        enteredLater = blocked.Lock(0);  // waits despite the zero time-out
    });
    ::Sleep(50);
    EXPECT_FALSE(enteredLater);
    lock.Unlock();
    other.join();
    EXPECT_TRUE(enteredLater);
}

TEST(SharedSecurity, DescriptorTextFollowsTheOperatingSystem) {
    EXPECT_EQ(SharedSecurityDescriptorText({true, true}), L"D:(A;;GA;;;WD)(A;;GA;;;AC)S:(ML;;NW;;;LW)");
    EXPECT_EQ(SharedSecurityDescriptorText({false, true}), L"D:(A;;GA;;;WD)S:(ML;;NW;;;LW)");
    EXPECT_EQ(SharedSecurityDescriptorText({false, false}), L"D:(A;;GA;;;WD)");
    EXPECT_EQ(&ProcessOsVersionAnswers(), &ProcessOsVersionAnswers());
}

TEST(SharedSecurity, AttributesAreInheritableAndCarryTheDescriptor) {
    SharedSecurityAttributes attributes(OsVersionAnswers{false, false});
    EXPECT_EQ(attributes.get()->nLength, sizeof(SECURITY_ATTRIBUTES));
    EXPECT_TRUE(attributes.get()->bInheritHandle);
    ASSERT_TRUE(attributes.hasDescriptor());
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
        attributes.get()->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    win32::UniqueLocal freeText(text);
    EXPECT_NE(std::wstring(text).find(L"WD"), std::wstring::npos);

    // An object made with the process's own answers is usable, whatever the
    // conversion made of the text.
    SharedSecurityAttributes processAttributes;
    win32::UniqueHandle event(::CreateEventW(processAttributes.get(), TRUE, FALSE, nullptr));
    EXPECT_TRUE(event);
}

}  // namespace
}  // namespace orvo
