#pragma once
// The one owner of lilv worlds. lilv is not thread-safe, so every lilv call
// (everything but an instance's run()) happens while holding World::lock().
// Instances keep the world they came from alive through a shared pointer; a
// reload replaces the world later instances use without disturbing them.

#include "platform/system/StderrCapture.h"

#include <lilv/lilv.h>

#include <memory>
#include <mutex>
#include <string>

namespace corvane::lv2 {

class World {
public:
    // lilv and serd print their complaints on stderr and offer no hook for
    // them. Every lilv call happens under this lock, so holding it also takes
    // those lines off stderr and logs them to corvane.lv2 when it is released.
    class Lock {
    public:
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        friend class World;
        explicit Lock(std::recursive_mutex& mutex);
        std::unique_lock<std::recursive_mutex> mutex_;
        StderrCapture output_; // declared last: ends before the mutex is released
    };

    // Any thread except the real-time one. Recursive: helpers may lock again.
    static Lock lock();

    // The world new instances are made from; loads the LV2 directories on first
    // use. The caller holds lock().
    static std::shared_ptr<World> current(const Lock& held);

    // Reads the LV2 directories again into a fresh world and makes it current.
    // The caller holds lock().
    static std::shared_ptr<World> reload(const Lock& held);

    World(const World&) = delete;
    World& operator=(const World&) = delete;
    ~World(); // takes the lock itself

    LilvWorld* lilv() const { return world_; }
    const LilvPlugin* plugin(const std::string& uri) const;

    // URIs interned once per world, for port and class queries.
    struct Uris {
        LilvNode* audioPort;
        LilvNode* controlPort;
        LilvNode* cvPort;
        LilvNode* atomPort;
        LilvNode* eventPort;
        LilvNode* inputPort;
        LilvNode* outputPort;
        LilvNode* midiEvent;
        LilvNode* reportsLatency;
        LilvNode* latency;
        LilvNode* enabled;
        LilvNode* freeWheeling;
        LilvNode* toggled;
        LilvNode* integer;
        LilvNode* enumeration;
        LilvNode* notOnGUI;
        LilvNode* expensive;
        LilvNode* logarithmic;
        LilvNode* designation;
        LilvNode* minimumSize;
        LilvNode* rdfType;
        LilvNode* instrumentClass;
        LilvNode* generatorClass;
        LilvNode* mixerClass;
        LilvNode* converterClass;
        LilvNode* rdfsSubClassOf;
    };
    const Uris& uris() const { return uris_; }

private:
    World();
    LilvWorld* world_;
    Uris uris_{};
};

} // namespace corvane::lv2
