#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "error.h"
#include "secret.h"
#include "value.h"

namespace directory {

class User;
class Group;
class Container;

// A bound directory object. Every refused call throws directory::Error.
// Property writes (put and the typed setters) stay pending until setInfo(); setPassword and
// group add/remove act at once.
class Object {
public:
    virtual ~Object() = default;
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    virtual std::string name() = 0;
    virtual std::string adsPath() = 0;
    // Set by name through the object's automation interface.
    virtual void put(std::string_view property, const Value& value) = 0;
    virtual void setInfo() = 0;
};

class User : public virtual Object {
public:
    virtual std::string description() = 0;
    virtual void setDescription(const std::string& text) = 0;
    virtual bool accountDisabled() = 0;
    virtual void setAccountDisabled(bool disabled) = 0;
    virtual bool isAccountLocked() = 0;
    virtual void setIsAccountLocked(bool locked) = 0;
    virtual void setPassword(const Secret& password) = 0;
    // The password never expires. Every directory then accepts "must change at next logon" and
    // ignores it, so a reset that promises a change at the next logon must not be made.
    virtual bool passwordNeverExpires() = 0;
    // Calls visit once per group the account belongs to, in the directory's order.
    virtual void groups(const std::function<void(Group&)>& visit) = 0;
};

class Group : public virtual Object {
public:
    virtual std::string description() = 0;
    virtual void add(const std::string& memberPath) = 0;
    virtual void remove(const std::string& memberPath) = 0;
};

// A domain or computer: its accounts, filtered by put("Filter", array of class names).
class Container : public virtual Object {
public:
    // Calls visit once per child matching the filter, in the directory's order.
    virtual void enumerate(const std::function<void(Object&)>& visit) = 0;
};

// Binds objects by path, in the current user's own security context.
class Service {
public:
    virtual ~Service() = default;
    // Throws directory::Error when the path names nothing reachable.
    virtual std::unique_ptr<Object> bind(std::string_view path) = 0;
};

// "Take the object as interface T": throws directory::Error (no such interface) when it isn't one.
template <class T> std::unique_ptr<T> as(std::unique_ptr<Object> object) {
    if (!object)
        throw Error(codes::kNoInterface, "No such interface supported");
    if (auto* typed = dynamic_cast<T*>(object.get())) {
        object.release();
        return std::unique_ptr<T>(typed);
    }
    throw Error(codes::kNoInterface, "No such interface supported");
}

template <class T> T& as(Object& object) {
    if (auto* typed = dynamic_cast<T*>(&object))
        return *typed;
    throw Error(codes::kNoInterface, "No such interface supported");
}

} // namespace directory
