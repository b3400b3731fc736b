#pragma once
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "proto/IProto.h"

namespace proto {

// IProto on RapidJSON. Created empty (an empty object). One thread at a time.
// Node handles stay valid while the document lives; clear, and a successful set_str or copy,
// invalidate them (the handles' memory is given back).
class MARL_API CRapidJsonProto : public IProto {
public:
    CRapidJsonProto();
    ~CRapidJsonProto() override;
    CRapidJsonProto(const CRapidJsonProto&) = delete;
    CRapidJsonProto& operator=(const CRapidJsonProto&) = delete;

    bool set_str(const std::string& json) override;
    std::string get_str(int flag) override;
    std::string get_node_str(void* node) override;
    int get_cnt(const std::string& path) override;
    std::string get_v(const std::string& path, const std::string& def) override;
    int get_int_v(const std::string& path, int def) override;
    double get_float_v(const std::string& path, double def) override;
    bool get_bool_v(const std::string& path, bool def) override;
    bool set_bool_v(const std::string& path, bool value) override;
    bool set_v(void* node, const std::string& key, int value) override;
    bool set_v(void* node, const std::string& key, const std::string& value) override;
    bool set_v(const std::string& path, int value) override;
    bool set_v(const std::string& path, const std::string& value) override;
    bool get_a(const std::string& path, std::vector<std::string>& out) override;
    bool get_int_a(const std::string& path, std::vector<int>& out) override;
    bool set_a(const std::string& path, const std::vector<int>& values) override;
    bool set_a(const std::string& path, const std::vector<std::string>& values) override;
    bool set_float_v(const std::string& path, double value) override;
    std::string get_p(void* node, const std::string& key, const std::string& def) override;
    int get_int_p(void* node, const std::string& key, int def) override;
    bool set_p(void* node, const std::string& key, int value) override;
    bool set_p(void* node, const std::string& key, const std::string& value) override;
    void* get_node(const std::string& path) override;
    void* add_v(void* node, const std::string& key, int value) override;
    void* add_v(void* node, const std::string& key, const std::string& value) override;
    void* add_v(const std::string& path, const std::string& key, int value) override;
    void* add_v(const std::string& path, const std::string& key, const std::string& value) override;
    void* add_object(void* node, const std::string& key) override;
    void* add_float_v(void* node, const std::string& key, double value) override;
    void* add_list_v(void* node, const std::string& key, int value) override;
    void* add_list_v(void* node, const std::string& key, const std::string& value) override;
    void* add_list_v(const std::string& path, const std::string& key, int value) override;
    void* add_list_v(const std::string& path, const std::string& key, const std::string& value) override;
    bool copy(IProto* other) override;
    void clear() override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace proto
