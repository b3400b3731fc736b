#pragma once
#include <string>

#include "Marl/Base/Export.h"
#include "dam/Property.h"

namespace dam {

// Login parameters common to every access protocol.
// assumed: the accessors' types the host leaves open (only the port's is given), and
// inline accessors by const reference (dam/Property.h).
class MARL_API CBaseLoginParam {
public:
    virtual ~CBaseLoginParam();

    int GetSubCategory() const { return m_subCategory; }
    void SetSubCategory(int subCategory) { m_subCategory = subCategory; }

    DAM_PROPERTY(int, access_protocol)
    DAM_PROPERTY(int, company_type)
    DAM_PROPERTY(std::string, str_alias)
    DAM_PROPERTY(bool, b_offline)
    DAM_PROPERTY(std::string, login_address)
    DAM_PROPERTY(unsigned int, login_port)
    DAM_PROPERTY(std::string, user_name)
    DAM_PROPERTY(std::string, password) // assumed: the name (the host calls it the stored password)

private:
    int m_subCategory = 0;
};

// Login parameters of a Modbus TCP I/O box.
class MARL_API CModbusLoginParam : public CBaseLoginParam {
public:
    ~CModbusLoginParam() override;

    DAM_PROPERTY(int, input_num)
    DAM_PROPERTY(int, output_num)
    DAM_PROPERTY(int, input_type)
};

// What a login produced, filled by the communication layer.
class MARL_API CDeviceLoginData {
public:
    virtual ~CDeviceLoginData();

    DAM_PROPERTY_INIT(int, device_handle, -1)
    DAM_PROPERTY(int, i_iLoginMode)
    DAM_PROPERTY(std::string, str_ip_address)
    DAM_PROPERTY(unsigned int, u_port)
};

} // namespace dam
