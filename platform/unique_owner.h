// One owner for every handle-like resource: the value, the value that means
// "none", and how the value is given back, supplied by a traits type. Each
// resource kind has one traits type, so each is released in one place.
#pragma once

template <class Traits>
class UniqueOwner {
public:
    using Type = typename Traits::Type;

    UniqueOwner() = default;
    explicit UniqueOwner(Type value) : m_value(value) {}
    ~UniqueOwner() { reset(); }
    UniqueOwner(UniqueOwner&& other) : m_value(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;

    Type get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::Invalid(); }
    // The value, typed, for owners of untyped memory blocks.
    template <class T> T* as() const { return static_cast<T*>(m_value); }
    Type release() {
        Type value = m_value;
        m_value = Traits::Invalid();
        return value;
    }
    void reset(Type value = Traits::Invalid()) {
        if (m_value != Traits::Invalid() && m_value != value) Traits::Close(m_value);
        m_value = value;
    }
    // For out-parameters: what was held is given back first.
    Type* put() {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};
