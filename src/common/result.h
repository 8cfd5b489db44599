#pragma once
// A small result type for the platform and parsing layers: either a value or a fault that says
// what failed and where ("catalog node 17: record 3 offset 530 outside the node").

#include <string>
#include <utility>
#include <variant>

namespace quarry {

struct Fault {
    std::string what;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Fault fault) : v_(std::move(fault)) {}

    explicit operator bool() const { return v_.index() == 0; }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T* operator->() { return &value(); }
    T& operator*() { return value(); }
    const std::string& fault() const { return std::get<1>(v_).what; }

private:
    std::variant<T, Fault> v_;
};

// The outcome of an operation that yields nothing but success or a fault.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Fault fault) : failed_(true), what_(std::move(fault.what)) {}
    static Status ok() { return {}; }

    explicit operator bool() const { return !failed_; }
    const std::string& fault() const { return what_; }

private:
    bool failed_ = false;
    std::string what_;
};

}  // namespace quarry
