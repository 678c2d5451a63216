#pragma once

namespace KORU {

// Base of the process-wide objects. The first GetInstance() creates the one instance; it lives until
// the process ends. The first call is expected on the interface thread during start-up.
// Derived classes declare `friend class KORU::Singleton<Derived>;` so that their constructor may stay
// private or protected, and may still be built on their own (for tests) where they offer a public one.
template <class T>
class Singleton {
public:
    static T* GetInstance() {
        static T* instance = new T();
        return instance;
    }

    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

protected:
    Singleton() = default;
    ~Singleton() = default;
};

}  // namespace KORU
