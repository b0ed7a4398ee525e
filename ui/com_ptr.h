#pragma once
#include <utility>

// One reference on a COM object, released when it goes. Move-only: a copy would release twice.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            object = std::exchange(other.object, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    void reset() {
        if (object != nullptr) std::exchange(object, nullptr)->Release();
    }
    // Releases what it holds and lends its slot to a creating call's out parameter.
    Interface** put() {
        reset();
        return &object;
    }
    Interface* get() const { return object; }
    Interface* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }

private:
    Interface* object = nullptr;
};
