#include "proto/RapidJsonProto.h"

#include <cmath>
#include <cstddef>
#include <forward_list>
#include <string_view>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace proto {

IProto::~IProto() = default;

namespace {

using Value = rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;
using rapidjson::SizeType;

// A typical event or device document fits the first chunk, so building one costs a single
// heap allocation (the implementation object itself).
constexpr size_t kFirstChunkBytes = 4096;
constexpr size_t kChunkBytes = 8192;
// An event document's text fits without growing the buffer.
constexpr size_t kTextBytes = 1024;

// RapidJSON refuses null string pointers, even for empty texts.
const char* Data(std::string_view text) { return text.data() != nullptr ? text.data() : ""; }

// Parsing, writing and copying recurse once per nesting level; deeper texts are refused so
// that a hostile request cannot exhaust the stack.
constexpr int kMaxNesting = 512;

bool NestingWithinLimit(const std::string& json)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : json) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// RapidJSON 1.1.0 reads a number whose digits alone pass its exponent check as infinity
// (77770000000000000000001e300), where 1e400 is a parse error. Such a value could not be
// written back as JSON, so a text holding one is refused like any other too large number.
// Depth is bounded by the nesting limit checked before the parse.
bool AllNumbersFinite(const Value& value)
{
    if (value.IsDouble()) {
        return std::isfinite(value.GetDouble());
    }
    if (value.IsArray()) {
        for (const Value& element : value.GetArray()) {
            if (!AllNumbersFinite(element)) {
                return false;
            }
        }
    } else if (value.IsObject()) {
        for (const auto& member : value.GetObject()) {
            if (!AllNumbersFinite(member.value)) {
                return false;
            }
        }
    }
    return true;
}

// Next non-empty piece of a slash path; false when none is left.
bool NextPiece(std::string_view& rest, std::string_view& piece)
{
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        piece = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (!piece.empty()) {
            return true;
        }
    }
    return false;
}

bool ParseIndex(std::string_view piece, SizeType& index)
{
    if (piece.empty() || piece.size() > 9) {
        return false;
    }
    SizeType value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<SizeType>(c - '0');
    }
    index = value;
    return true;
}

// Member key of an object. With an allocator a missing member is added (as null) and a
// scalar or null parent becomes an empty object first.
Value* Member(Value& parent, std::string_view key, Allocator* create)
{
    if (!parent.IsObject()) {
        if (create == nullptr || parent.IsArray()) {
            return nullptr;
        }
        parent.SetObject();
    }
    const Value name(rapidjson::StringRef(Data(key), key.size()));
    auto it = parent.FindMember(name);
    if (it != parent.MemberEnd()) {
        return &it->value;
    }
    if (create == nullptr) {
        return nullptr;
    }
    parent.AddMember(Value(Data(key), static_cast<SizeType>(key.size()), *create), Value(), *create);
    return &(parent.MemberEnd() - 1)->value;
}

// One path piece: an element when the value is an array, a member otherwise.
Value* Child(Value& parent, std::string_view piece, Allocator* create)
{
    if (parent.IsArray()) {
        SizeType index = 0;
        if (ParseIndex(piece, index) && index < parent.Size()) {
            return &parent[index];
        }
        return nullptr;
    }
    return Member(parent, piece, create);
}

Value* Walk(Value& start, std::string_view path, Allocator* create)
{
    Value* value = &start;
    std::string_view piece;
    while (value != nullptr && NextPiece(path, piece)) {
        value = Child(*value, piece, create);
    }
    return value;
}

// Writing members into a value needs an object; a scalar or null is turned into one.
Value* AsObject(Value* value)
{
    if (value == nullptr || value->IsArray()) {
        return nullptr;
    }
    if (!value->IsObject()) {
        value->SetObject();
    }
    return value;
}

// Replaces an existing member in place (keeping member order) or appends it.
void SetMember(Value& object, std::string_view key, Value& value, Allocator& allocator)
{
    *Member(object, key, &allocator) = value;
}

bool ToInt(const Value& value, int& out)
{
    if (value.IsInt()) {
        out = value.GetInt();
        return true;
    }
    if (value.IsUint()) {
        out = static_cast<int>(value.GetUint()); // above INT_MAX wraps, as the host's readers do
        return true;
    }
    return false;
}

Value Text(std::string_view text, Allocator& allocator)
{
    return Value(Data(text), static_cast<SizeType>(text.size()), allocator);
}

template <class Writer>
std::string Serialise(const Value& value)
{
    rapidjson::StringBuffer buffer(nullptr, kTextBytes);
    Writer writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// Where a node handle points, kept as a route from its parent rather than as a Value pointer:
// RapidJSON moves values whenever an object or array grows, a route stays right.
struct NodeRecord {
    const NodeRecord* parent = nullptr; // null: the root
    std::string path;                   // slash path walked first, may be empty
    std::string member;                 // then this member, when hasMember
    SizeType index = 0;                 // then this array element, when hasIndex
    bool hasMember = false;
    bool hasIndex = false;
};

} // namespace

struct CRapidJsonProto::Impl {
    alignas(std::max_align_t) char firstChunk[kFirstChunkBytes];
    Allocator allocator{firstChunk, sizeof firstChunk, kChunkBytes};
    rapidjson::Document doc{rapidjson::kObjectType, &allocator};
    // Addresses in a forward_list never move; an empty list costs no allocation.
    std::forward_list<NodeRecord> nodes;

    // Empties the document and gives back its memory; every node handle becomes invalid.
    void Reset()
    {
        doc.SetObject();
        allocator.Clear();
        nodes.clear();
    }

    Value* Resolve(const void* handle)
    {
        const auto* node = static_cast<const NodeRecord*>(handle);
        if (node == nullptr) {
            return &doc;
        }
        Value* value = Resolve(node->parent);
        if (value != nullptr && !node->path.empty()) {
            value = Walk(*value, node->path, nullptr);
        }
        if (value != nullptr && node->hasMember) {
            value = Member(*value, node->member, nullptr);
        }
        if (value != nullptr && node->hasIndex) {
            value = value->IsArray() && node->index < value->Size() ? &(*value)[node->index] : nullptr;
        }
        return value;
    }

    void* NewNode(const void* parent, std::string_view path, std::string_view member, bool hasMember,
                  SizeType index = 0, bool hasIndex = false)
    {
        NodeRecord& node = nodes.emplace_front();
        node.parent = static_cast<const NodeRecord*>(parent);
        node.path.assign(path);
        node.member.assign(member);
        node.hasMember = hasMember;
        node.index = index;
        node.hasIndex = hasIndex;
        return &node;
    }

    Value* Find(std::string_view path) { return Walk(doc, path, nullptr); }

    // Member key of the node, null when either is absent.
    Value* MemberOf(void* node, std::string_view key)
    {
        Value* object = Resolve(node);
        return object != nullptr ? Member(*object, key, nullptr) : nullptr;
    }

    Value Make(int value) { return Value(value); }
    Value Make(const std::string& value) { return Text(value, allocator); }

    // Elements of another type read as the getters' default, so positions still line up.
    template <class T, class Convert>
    bool ReadArray(std::string_view path, std::vector<T>& out, Convert convert)
    {
        const Value* list = Find(path);
        if (list == nullptr || !list->IsArray()) {
            return false;
        }
        out.clear();
        out.reserve(list->Size());
        for (const Value& element : list->GetArray()) {
            out.push_back(convert(element));
        }
        return true;
    }

    template <class T>
    bool WriteArray(std::string_view path, const std::vector<T>& values)
    {
        Value list(rapidjson::kArrayType);
        list.Reserve(static_cast<SizeType>(values.size()), allocator);
        for (const T& value : values) {
            list.PushBack(Make(value), allocator);
        }
        return SetAt(path, std::move(list));
    }

    // Stores the value at the path, creating what is missing on the way. The root itself
    // cannot be replaced by a path setter.
    bool SetAt(std::string_view path, Value&& value)
    {
        Value* slot = Walk(doc, path, &allocator);
        if (slot == nullptr || slot == &doc) {
            return false;
        }
        *slot = value;
        return true;
    }

    // The value to write members into; null when absent or an array.
    Value* ObjectAt(void* node) { return AsObject(Resolve(node)); }
    Value* ObjectAt(std::string_view path) { return AsObject(Walk(doc, path, &allocator)); }

    bool SetMemberOf(void* node, std::string_view key, Value&& value)
    {
        Value* object = ObjectAt(node);
        if (object != nullptr) {
            SetMember(*object, key, value, allocator);
        }
        return object != nullptr;
    }

    // Sets member key of the object and returns its node, reached from parent, then path.
    void* AddMember(Value* object, const void* parent, std::string_view path, std::string_view key, Value&& value)
    {
        if (object == nullptr) {
            return nullptr;
        }
        SetMember(*object, key, value, allocator);
        return NewNode(parent, path, key, true);
    }

    // Appends to the array member key of the object (replacing a member of another type) and
    // returns the element's node, reached from parent, then path.
    void* AddListElement(Value* object, const void* parent, std::string_view path, std::string_view key,
                         Value&& value)
    {
        if (object == nullptr) {
            return nullptr;
        }
        Value* list = Member(*object, key, &allocator);
        if (!list->IsArray()) {
            list->SetArray();
        }
        list->PushBack(value, allocator);
        return NewNode(parent, path, key, true, list->Size() - 1, true);
    }

    // Replaces the document by a deep copy of the value (which must not live in this one).
    void Assign(const Value& source)
    {
        Reset();
        doc.CopyFrom(source, allocator);
    }
};

// Not make_unique: value-initialising would first zero the whole first chunk.
CRapidJsonProto::CRapidJsonProto() : m_impl(new Impl) {}
CRapidJsonProto::~CRapidJsonProto() = default;

bool CRapidJsonProto::set_str(const std::string& json)
{
    if (!NestingWithinLimit(json)) {
        return false;
    }
    rapidjson::Document parsed;
    parsed.Parse(json.data(), json.size());
    if (parsed.HasParseError() || !AllNumbersFinite(parsed)) {
        return false;
    }
    m_impl->Assign(parsed);
    return true;
}

std::string CRapidJsonProto::get_str(int flag)
{
    if (flag == 1) {
        return Serialise<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(m_impl->doc);
    }
    return Serialise<rapidjson::Writer<rapidjson::StringBuffer>>(m_impl->doc);
}

std::string CRapidJsonProto::get_node_str(void* node)
{
    const Value* value = m_impl->Resolve(node);
    return value != nullptr ? Serialise<rapidjson::Writer<rapidjson::StringBuffer>>(*value) : std::string();
}

int CRapidJsonProto::get_cnt(const std::string& path)
{
    const Value* value = m_impl->Find(path);
    if (value == nullptr) {
        return 0;
    }
    if (value->IsObject()) {
        return static_cast<int>(value->MemberCount());
    }
    return value->IsArray() ? static_cast<int>(value->Size()) : 0;
}

std::string CRapidJsonProto::get_v(const std::string& path, const std::string& def)
{
    const Value* value = m_impl->Find(path);
    return value != nullptr && value->IsString() ? std::string(value->GetString(), value->GetStringLength()) : def;
}

int CRapidJsonProto::get_int_v(const std::string& path, int def)
{
    const Value* value = m_impl->Find(path);
    int out = def;
    return value != nullptr && ToInt(*value, out) ? out : def;
}

double CRapidJsonProto::get_float_v(const std::string& path, double def)
{
    const Value* value = m_impl->Find(path);
    return value != nullptr && value->IsNumber() ? value->GetDouble() : def;
}

bool CRapidJsonProto::get_bool_v(const std::string& path, bool def)
{
    const Value* value = m_impl->Find(path);
    return value != nullptr && value->IsBool() ? value->GetBool() : def;
}

bool CRapidJsonProto::set_bool_v(const std::string& path, bool value)
{
    return m_impl->SetAt(path, Value(value));
}

bool CRapidJsonProto::set_v(void* node, const std::string& key, int value)
{
    return m_impl->SetMemberOf(node, key, m_impl->Make(value));
}

bool CRapidJsonProto::set_v(void* node, const std::string& key, const std::string& value)
{
    return m_impl->SetMemberOf(node, key, m_impl->Make(value));
}

bool CRapidJsonProto::set_v(const std::string& path, int value)
{
    return m_impl->SetAt(path, m_impl->Make(value));
}

bool CRapidJsonProto::set_v(const std::string& path, const std::string& value)
{
    return m_impl->SetAt(path, m_impl->Make(value));
}

bool CRapidJsonProto::get_a(const std::string& path, std::vector<std::string>& out)
{
    return m_impl->ReadArray(path, out, [](const Value& element) {
        return element.IsString() ? std::string(element.GetString(), element.GetStringLength()) : std::string();
    });
}

bool CRapidJsonProto::get_int_a(const std::string& path, std::vector<int>& out)
{
    return m_impl->ReadArray(path, out, [](const Value& element) {
        int number = 0;
        return ToInt(element, number) ? number : 0;
    });
}

bool CRapidJsonProto::set_a(const std::string& path, const std::vector<int>& values)
{
    return m_impl->WriteArray(path, values);
}

bool CRapidJsonProto::set_a(const std::string& path, const std::vector<std::string>& values)
{
    return m_impl->WriteArray(path, values);
}

bool CRapidJsonProto::set_float_v(const std::string& path, double value)
{
    if (!std::isfinite(value)) {
        return false; // JSON has no text for NaN or infinity
    }
    return m_impl->SetAt(path, Value(value));
}

std::string CRapidJsonProto::get_p(void* node, const std::string& key, const std::string& def)
{
    const Value* value = m_impl->MemberOf(node, key);
    return value != nullptr && value->IsString() ? std::string(value->GetString(), value->GetStringLength()) : def;
}

int CRapidJsonProto::get_int_p(void* node, const std::string& key, int def)
{
    const Value* value = m_impl->MemberOf(node, key);
    int out = def;
    return value != nullptr && ToInt(*value, out) ? out : def;
}

bool CRapidJsonProto::set_p(void* node, const std::string& key, int value) { return set_v(node, key, value); }

bool CRapidJsonProto::set_p(void* node, const std::string& key, const std::string& value)
{
    return set_v(node, key, value);
}

void* CRapidJsonProto::get_node(const std::string& path)
{
    return m_impl->Find(path) != nullptr ? m_impl->NewNode(nullptr, path, {}, false) : nullptr;
}

void* CRapidJsonProto::add_v(void* node, const std::string& key, int value)
{
    return m_impl->AddMember(m_impl->ObjectAt(node), node, {}, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_v(void* node, const std::string& key, const std::string& value)
{
    return m_impl->AddMember(m_impl->ObjectAt(node), node, {}, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_v(const std::string& path, const std::string& key, int value)
{
    return m_impl->AddMember(m_impl->ObjectAt(path), nullptr, path, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_v(const std::string& path, const std::string& key, const std::string& value)
{
    return m_impl->AddMember(m_impl->ObjectAt(path), nullptr, path, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_object(void* node, const std::string& key)
{
    return m_impl->AddMember(m_impl->ObjectAt(node), node, {}, key, Value(rapidjson::kObjectType));
}

void* CRapidJsonProto::add_float_v(void* node, const std::string& key, double value)
{
    if (!std::isfinite(value)) {
        return nullptr;
    }
    return m_impl->AddMember(m_impl->ObjectAt(node), node, {}, key, Value(value));
}

void* CRapidJsonProto::add_list_v(void* node, const std::string& key, int value)
{
    return m_impl->AddListElement(m_impl->ObjectAt(node), node, {}, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_list_v(void* node, const std::string& key, const std::string& value)
{
    return m_impl->AddListElement(m_impl->ObjectAt(node), node, {}, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_list_v(const std::string& path, const std::string& key, int value)
{
    return m_impl->AddListElement(m_impl->ObjectAt(path), nullptr, path, key, m_impl->Make(value));
}

void* CRapidJsonProto::add_list_v(const std::string& path, const std::string& key, const std::string& value)
{
    return m_impl->AddListElement(m_impl->ObjectAt(path), nullptr, path, key, m_impl->Make(value));
}

bool CRapidJsonProto::copy(IProto* other)
{
    if (other == nullptr) {
        return false;
    }
    if (other == this) {
        return true;
    }
    if (auto* same = dynamic_cast<CRapidJsonProto*>(other)) {
        m_impl->Assign(same->m_impl->doc);
        return true;
    }
    return set_str(other->get_str(0));
}

void CRapidJsonProto::clear() { m_impl->Reset(); }

} // namespace proto
