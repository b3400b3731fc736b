#pragma once
#include <string>
#include <vector>

#include "Marl/Base/Export.h"

namespace proto {

// The host's JSON document. Values are addressed by slash paths ("/AddByAddress/Port"):
// empty pieces are ignored, a numeric piece indexes an array. Nodes are opaque handles that
// stay valid while the document lives (until clear, set_str or copy); a null node is the root.
//
// Getters return their default when the path is absent or holds another JSON type; integer
// getters accept any integer that fits 32 bits (an unsigned value above INT_MAX wraps).
// Writing into a node that holds a scalar turns it into an object.
// The slot order and the kinds of arguments (node, key, path, int, string) are the host's; the
// exact parameter and result types are assumed.
class MARL_API IProto {
public:
    virtual ~IProto();

    // Replaces the document by the parsed text; false (document unchanged) on a parse error.
    virtual bool set_str(const std::string& json) = 0;
    // The whole document as compact JSON text (flag 0) or indented (flag 1).
    virtual std::string get_str(int flag) = 0;
    virtual std::string get_node_str(void* node) = 0;
    // Elements of an array, members of an object, 0 otherwise.
    virtual int get_cnt(const std::string& path) = 0;
    virtual std::string get_v(const std::string& path, const std::string& def) = 0;
    virtual int get_int_v(const std::string& path, int def) = 0;
    virtual double get_float_v(const std::string& path, double def) = 0;
    virtual bool get_bool_v(const std::string& path, bool def) = 0;
    virtual bool set_bool_v(const std::string& path, bool value) = 0;
    virtual bool set_v(void* node, const std::string& key, int value) = 0;
    virtual bool set_v(void* node, const std::string& key, const std::string& value) = 0;
    virtual bool set_v(const std::string& path, int value) = 0;
    virtual bool set_v(const std::string& path, const std::string& value) = 0;
    virtual bool get_a(const std::string& path, std::vector<std::string>& out) = 0;
    virtual bool get_int_a(const std::string& path, std::vector<int>& out) = 0;
    virtual bool set_a(const std::string& path, const std::vector<int>& values) = 0;
    virtual bool set_a(const std::string& path, const std::vector<std::string>& values) = 0;
    virtual bool set_float_v(const std::string& path, double value) = 0;
    // Member key of a node.
    virtual std::string get_p(void* node, const std::string& key, const std::string& def) = 0;
    virtual int get_int_p(void* node, const std::string& key, int def) = 0;
    virtual bool set_p(void* node, const std::string& key, int value) = 0;
    virtual bool set_p(void* node, const std::string& key, const std::string& value) = 0;
    // Handle of the value at the path, null when absent.
    virtual void* get_node(const std::string& path) = 0;
    // Adds member key under the node (or under the value at path) and returns the new node.
    virtual void* add_v(void* node, const std::string& key, int value) = 0;
    virtual void* add_v(void* node, const std::string& key, const std::string& value) = 0;
    virtual void* add_v(const std::string& path, const std::string& key, int value) = 0;
    virtual void* add_v(const std::string& path, const std::string& key, const std::string& value) = 0;
    // Adds an empty object under the node and returns it.
    virtual void* add_object(void* node, const std::string& key) = 0;
    virtual void* add_float_v(void* node, const std::string& key, double value) = 0;
    // Appends an element to the array key under the node (created when absent); returns it.
    virtual void* add_list_v(void* node, const std::string& key, int value) = 0;
    virtual void* add_list_v(void* node, const std::string& key, const std::string& value) = 0;
    virtual void* add_list_v(const std::string& path, const std::string& key, int value) = 0;
    virtual void* add_list_v(const std::string& path, const std::string& key, const std::string& value) = 0;
    // Replaces this document by a deep copy of the other.
    virtual bool copy(IProto* other) = 0;
    virtual void clear() = 0;
};

} // namespace proto
