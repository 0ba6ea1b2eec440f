// Framework objects: handles, parents and children, references, typed
// contexts, and the small object kinds (memory, collections, spin locks).
#include <cstring>

#include "emulator/kmdf/framework.h"

namespace orvo::kmdf {
namespace {

Framework* g_framework = nullptr;
thread_local int t_irql = PASSIVE_LEVEL;
// Destroyed objects stay allocated (poisoned) for this many later
// destructions, so a stale handle is caught instead of reaching new memory.
constexpr size_t kGraveyardSize = 200000;
std::map<void*, Object*> g_contexts;  // under Fw().lock

void Destroy(Object* object);

void DropReference(Object* object) {
    if (--object->references == 0) Destroy(object);
}

void Destroy(Object* object) {
    Framework& fw = Fw();
    object->destroyed = true;
    if (object->type == ObjectType::Request) {
        auto* request = static_cast<Request*>(object);
        if (request->sentTo) fw.verifier.Report("WdfObjectDelete: request deleted while sent");
    }
    std::list<Object*> children;
    children.swap(object->children);
    for (Object* child : children) {
        child->parent = nullptr;
        if (!child->deleteRequested) {
            child->deleteRequested = true;
            DropReference(child);
        }
    }
    if (object->parent) object->parent->children.remove(object);
    fw.live.erase(object);
    if (object->context) {
        g_contexts.erase(object->context);
        std::memset(object->context, 0xDD, object->contextType ? object->contextType->ContextSize : 0);
    }
    if (object->type == ObjectType::Memory) {
        auto& bytes = static_cast<Memory*>(object)->bytes;
        std::memset(bytes.data(), 0xDD, bytes.size());
    }
    fw.graveyard.push_back(object);
    if (fw.graveyard.size() > kGraveyardSize) {
        delete fw.graveyard.front();
        fw.graveyard.pop_front();
    }
    fw.changed.notify_all();
}

}  // namespace

Object::~Object() { ::operator delete(context); }

const char* TypeName(ObjectType type) {
    switch (type) {
    case ObjectType::Driver: return "driver";
    case ObjectType::Device: return "device";
    case ObjectType::Queue: return "queue";
    case ObjectType::Request: return "request";
    case ObjectType::File: return "file object";
    case ObjectType::Memory: return "memory";
    case ObjectType::Collection: return "collection";
    case ObjectType::SpinLock: return "spin lock";
    case ObjectType::WorkItem: return "work item";
    case ObjectType::Key: return "registry key";
    case ObjectType::UsbDevice: return "USB device";
    case ObjectType::UsbInterface: return "USB interface";
    case ObjectType::UsbPipe: return "USB pipe";
    case ObjectType::IoTarget: return "I/O target";
    }
    return "object";
}

Framework& Fw() { return *g_framework; }
bool HasFramework() { return g_framework != nullptr; }
void SetFramework(Framework* framework) { g_framework = framework; }

void FreeGraveyard(Framework& fw) {
    for (Object* object : fw.graveyard) delete object;
    fw.graveyard.clear();
}

int CurrentIrql() { return t_irql; }
void SetIrql(int irql) { t_irql = irql; }
IrqlScope::IrqlScope(int irql) : m_saved(t_irql) { t_irql = irql; }
IrqlScope::~IrqlScope() { t_irql = m_saved; }

void RequirePassive(const char* routine) {
    if (t_irql != PASSIVE_LEVEL) Fw().verifier.Report(std::string(routine) + ": wait at dispatch level");
}

void Register(Object* object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent) {
    Framework& fw = Fw();
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    Object* parent = defaultParent;
    if (attributes && attributes->ParentObject) {
        parent = static_cast<Object*>(attributes->ParentObject);
        if (!fw.live.count(parent)) {
            fw.verifier.Report("object creation: parent is a deleted object");
            parent = defaultParent;
        }
    }
    object->parent = parent;
    if (parent) parent->children.push_back(object);
    if (attributes && attributes->ContextTypeInfo) {
        object->contextType = attributes->ContextTypeInfo;
        const size_t size = attributes->ContextSizeOverride ? attributes->ContextSizeOverride
                                                            : attributes->ContextTypeInfo->ContextSize;
        object->context = ::operator new(size);
        std::memset(object->context, 0, size);
        g_contexts[object->context] = object;
    }
    if (attributes) object->cleanup = attributes->EvtCleanupCallback;
    fw.live.insert(object);
}

Object* Resolve(const void* handle, const char* routine, ObjectType expected) {
    Framework& fw = Fw();
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    auto* object = static_cast<Object*>(const_cast<void*>(handle));
    if (!handle || !fw.live.count(object)) {
        fw.verifier.Report(std::string(routine) + (handle ? ": deleted object touched" : ": null handle"));
        return nullptr;
    }
    const bool targetKind = object->type == ObjectType::UsbPipe || object->type == ObjectType::UsbDevice;
    if (object->type != expected && !(expected == ObjectType::IoTarget && targetKind) &&
        expected != ObjectType::Driver /* any */) {
        fw.verifier.Report(std::string(routine) + ": handle is a " + TypeName(object->type) + ", not a " +
                           TypeName(expected));
        return nullptr;
    }
    return object;
}

void Reference(Object* object) {
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    ++object->references;
}

void Dereference(Object* object, const char* routine) {
    Framework& fw = Fw();
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    if (object->references <= (object->deleteRequested ? 0 : 1)) {
        fw.verifier.Report(std::string(routine) + ": reference dropped that was never taken");
        return;
    }
    DropReference(object);
}

void DeleteObject(Object* object) {
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (object->deleteRequested) return;
    object->deleteRequested = true;
    DropReference(object);
}

}  // namespace orvo::kmdf

using namespace orvo::kmdf;

extern "C" {

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT Handle, PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo) {
    Fw().verifier.Enter("WdfObjectGetTypedContextWorker");
    Object* object = Resolve(Handle, "WdfObjectGetTypedContextWorker", ObjectType::Driver);
    if (!object) return nullptr;
    if (object->contextType != TypeInfo) {
        Fw().verifier.Report(std::string("WdfObjectGetTypedContextWorker: the ") + TypeName(object->type) +
                             " has no " + (TypeInfo ? TypeInfo->ContextName : "?") + " context");
        return nullptr;
    }
    return object->context;
}

WDFOBJECT WdfObjectContextGetObject(PVOID ContextPointer) {
    Fw().verifier.Enter("WdfObjectContextGetObject");
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    auto it = g_contexts.find(ContextPointer);
    if (it == g_contexts.end()) {
        Fw().verifier.Report("WdfObjectContextGetObject: not the context of a live object");
        return nullptr;
    }
    return it->second;
}

VOID WdfObjectDelete(WDFOBJECT Object) {
    Fw().verifier.Enter("WdfObjectDelete");
    auto* object = Resolve(Object, "WdfObjectDelete", ObjectType::Driver);
    if (!object) return;
    if (object->type == ObjectType::Request && static_cast<Request*>(object)->fromUser) {
        Fw().verifier.Report("WdfObjectDelete: a request from the I/O manager is completed, not deleted");
        return;
    }
    DeleteObject(object);
}

VOID WdfObjectReferenceActual(WDFOBJECT Handle, PVOID, LONG, const char*) {
    Fw().verifier.Enter("WdfObjectReferenceActual");
    if (auto* object = Resolve(Handle, "WdfObjectReferenceActual", ObjectType::Driver)) Reference(object);
}

VOID WdfObjectDereferenceActual(WDFOBJECT Handle, PVOID, LONG, const char*) {
    Fw().verifier.Enter("WdfObjectDereferenceActual");
    if (auto* object = Resolve(Handle, "WdfObjectDereferenceActual", ObjectType::Driver))
        Dereference(object, "WdfObjectDereferenceActual");
}

NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES Attributes, POOL_TYPE, ULONG PoolTag, SIZE_T BufferSize,
                         WDFMEMORY* MemoryOut, PVOID* Buffer) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfMemoryCreate")) return forced;
    if (PoolTag == 0) Fw().verifier.Report("WdfMemoryCreate: no pool tag");
    if (BufferSize == 0) return STATUS_INVALID_PARAMETER;
    auto* memory = new Memory;
    memory->bytes.assign(BufferSize, 0xCD);  // pool memory is not zeroed
    Register(memory, Attributes, Fw().driver);
    *MemoryOut = reinterpret_cast<WDFMEMORY>(memory);
    if (Buffer) *Buffer = memory->bytes.data();
    return STATUS_SUCCESS;
}

PVOID WdfMemoryGetBuffer(WDFMEMORY Handle, SIZE_T* BufferSize) {
    Fw().verifier.Enter("WdfMemoryGetBuffer");
    auto* memory = As<Memory>(Handle, "WdfMemoryGetBuffer", ObjectType::Memory);
    if (!memory) return nullptr;
    if (BufferSize) *BufferSize = memory->bytes.size();
    return memory->bytes.data();
}

NTSTATUS WdfCollectionCreate(PWDF_OBJECT_ATTRIBUTES Attributes, WDFCOLLECTION* CollectionOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfCollectionCreate")) return forced;
    auto* collection = new Collection;
    Register(collection, Attributes, Fw().driver);
    *CollectionOut = reinterpret_cast<WDFCOLLECTION>(collection);
    return STATUS_SUCCESS;
}

ULONG WdfCollectionGetCount(WDFCOLLECTION Handle) {
    Fw().verifier.Enter("WdfCollectionGetCount");
    auto* collection = As<Collection>(Handle, "WdfCollectionGetCount", ObjectType::Collection);
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    return collection ? ULONG(collection->items.size()) : 0;
}

NTSTATUS WdfCollectionAdd(WDFCOLLECTION Handle, WDFOBJECT Item) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfCollectionAdd")) return forced;
    auto* collection = As<Collection>(Handle, "WdfCollectionAdd", ObjectType::Collection);
    auto* item = Resolve(Item, "WdfCollectionAdd", ObjectType::Driver);
    if (!collection || !item) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    collection->items.push_back(item);
    ++item->references;  // a collection holds a reference on each item
    return STATUS_SUCCESS;
}

VOID WdfCollectionRemove(WDFCOLLECTION Handle, WDFOBJECT Item) {
    Fw().verifier.Enter("WdfCollectionRemove");
    auto* collection = As<Collection>(Handle, "WdfCollectionRemove", ObjectType::Collection);
    if (!collection) return;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    for (auto it = collection->items.begin(); it != collection->items.end(); ++it) {
        if (*it == Item) {
            collection->items.erase(it);
            Dereference(static_cast<Object*>(Item), "WdfCollectionRemove");
            return;
        }
    }
    Fw().verifier.Report("WdfCollectionRemove: item not in the collection");
}

WDFOBJECT WdfCollectionGetItem(WDFCOLLECTION Handle, ULONG Index) {
    Fw().verifier.Enter("WdfCollectionGetItem");
    auto* collection = As<Collection>(Handle, "WdfCollectionGetItem", ObjectType::Collection);
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    if (!collection || Index >= collection->items.size()) return nullptr;
    return collection->items[Index];
}

NTSTATUS WdfSpinLockCreate(PWDF_OBJECT_ATTRIBUTES Attributes, WDFSPINLOCK* LockOut) {
    if (NTSTATUS forced = Fw().verifier.Enter("WdfSpinLockCreate")) return forced;
    auto* spinLock = new SpinLock;
    Register(spinLock, Attributes, Fw().driver);
    *LockOut = reinterpret_cast<WDFSPINLOCK>(spinLock);
    return STATUS_SUCCESS;
}

VOID WdfSpinLockAcquire(WDFSPINLOCK Handle) {
    Fw().verifier.Enter("WdfSpinLockAcquire");
    auto* spinLock = As<SpinLock>(Handle, "WdfSpinLockAcquire", ObjectType::SpinLock);
    if (!spinLock) return;
    if (spinLock->owner.load() == ::GetCurrentThreadId()) {
        Fw().verifier.Report("WdfSpinLockAcquire: acquired again by its owner (deadlock)");
        return;
    }
    spinLock->mutex.lock();
    spinLock->owner = ::GetCurrentThreadId();
    spinLock->savedIrql = CurrentIrql();
    SetIrql(DISPATCH_LEVEL);
    CVerifier::NoteSpinLock(+1);
}

VOID WdfSpinLockRelease(WDFSPINLOCK Handle) {
    Fw().verifier.Enter("WdfSpinLockRelease");
    auto* spinLock = As<SpinLock>(Handle, "WdfSpinLockRelease", ObjectType::SpinLock);
    if (!spinLock) return;
    if (spinLock->owner.load() != ::GetCurrentThreadId()) {
        Fw().verifier.Report("WdfSpinLockRelease: released by a thread that does not hold it");
        return;
    }
    const int irql = spinLock->savedIrql;
    spinLock->owner = 0;
    spinLock->mutex.unlock();
    SetIrql(irql);
    CVerifier::NoteSpinLock(-1);
}

}  // extern "C"
