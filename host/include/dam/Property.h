#pragma once
// Data members of the host's data classes with GetVal_/SetVal_ accessors.
#define DAM_PROPERTY_ACCESSORS(Type, Name)                                    \
public:                                                                       \
    const Type& GetVal_##Name() const { return m_##Name; }                    \
    void SetVal_##Name(const Type& value) { m_##Name = value; }               \
                                                                              \
private:

#define DAM_PROPERTY_INIT(Type, Name, Init) DAM_PROPERTY_ACCESSORS(Type, Name) Type m_##Name = Init;
#define DAM_PROPERTY(Type, Name) DAM_PROPERTY_ACCESSORS(Type, Name) Type m_##Name{};
