// The add and modify request readers, then Decrypt and Check, on documents made from the
// fuzzer's bytes: either parsed from the bytes as JSON text, or assembled value by value at
// the paths the readers look at (and their parents), with every JSON type the host can store.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Access/CommonHelper/CommonHelper.h"
#include "FuzzSupport.h"
#include "Marl/Base/Error.h"
#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"

namespace {

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;

const ErrorCode kUntouched(7, 7);
constexpr unsigned int kModbus = iobox::kAccessProtocolModbus;

// 2005/101 gives Modbus parameters, 2005/100 and 2004/101 plain ones, anything else none,
// the way the host's factory table can answer.
class CFuzzLoginParamFactory : public dam::IExtendLoginParamFactory {
public:
    std::shared_ptr<dam::CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) override
    {
        if (category == 2005 && protocol == 101) {
            return std::make_shared<dam::CModbusLoginParam>();
        }
        if ((category == 2005 && protocol == 100) || (category == 2004 && protocol == 101)) {
            return std::make_shared<dam::CBaseLoginParam>();
        }
        return nullptr;
    }
};

struct Pair {
    unsigned int category;
    unsigned int protocol;
    bool servedAsModbus; // the factory answers with Modbus parameters
    bool served;         // the factory answers at all
};
const Pair kPairs[] = {
    {2005, 101, true, true},
    {2005, 100, false, true},
    {2004, 101, false, true},
    {9, 9, false, false},
};

// Where values are put: every path either reader reads, the objects above them, and a few
// neighbours, so that wrong types, scalars in place of objects and arrays all turn up.
const char* const kPaths[] = {
    "/AddDevicesRequest/SingleDevice/Manufacturer",
    "/AddDevicesRequest/SingleDevice/Alias",
    "/AddDevicesRequest/SingleDevice/ByOffline",
    "/AddDevicesRequest/SingleDevice/SubType",
    "/AddDevicesRequest/SingleDevice/AddByAddress/Address",
    "/AddDevicesRequest/SingleDevice/AddByAddress/Port",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmInputCount",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmOutputCount",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmInputType",
    "/SingleDevicePutRequest/CompanyType",
    "/SingleDevicePutRequest/BaseInfo/Alias",
    "/SingleDevicePutRequest/BaseInfo/LoginAddress",
    "/SingleDevicePutRequest/BaseInfo/LoginPort",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmInputCount",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmOutputCount",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmInputType",
    "/AddDevicesRequest",
    "/AddDevicesRequest/SingleDevice",
    "/AddDevicesRequest/SingleDevice/AddByAddress",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox",
    "/SingleDevicePutRequest",
    "/SingleDevicePutRequest/BaseInfo",
    "/SingleDevicePutRequest/BaseInfo/IOBox",
    "/AddDevicesRequest/SingleDevice/0",
    "/SingleDevicePutRequest//BaseInfo/Alias",
    "/AddDevicesRequest/SingleDevice/AddByAddress/Port/0",
};
constexpr std::size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

// Records of [path selector][type][value] until the bytes run out.
void Assemble(fuzzsupport::CByteReader& in, proto::IProto& document)
{
    while (in.Left() > 0) {
        const std::string path = kPaths[in.Byte() % kPathCount];
        switch (in.Byte() % 7) {
        case 0: document.set_v(path, static_cast<int>(in.Uint32())); break;
        case 1: document.set_v(path, in.Bytes(in.Byte() % 80)); break;
        case 2: document.set_bool_v(path, (in.Byte() & 1) != 0); break;
        case 3: document.set_float_v(path, static_cast<int32_t>(in.Uint32()) / 16.0); break;
        case 4: {
            std::vector<int> values(in.Byte() % 4);
            for (int& value : values) {
                value = static_cast<int>(in.Uint32());
            }
            document.set_a(path, values);
            break;
        }
        case 5: document.set_a(path, std::vector<std::string>{in.Bytes(in.Byte() % 20)}); break;
        default:
            // Text that is a number, so a string holds what an integer reader might expect.
            document.set_v(path, std::to_string(static_cast<int32_t>(in.Uint32())));
            break;
        }
    }
}

struct Outcome {
    bool read = false;
    bool decrypted = false;
    bool checked = false;
    ErrorCode error;
    std::shared_ptr<dam::CBaseLoginParam> param;
};

Outcome Run(bool modify, const Pair& pair, proto::IProto* document)
{
    std::unique_ptr<iobox::DeviceRequestInfo> reader;
    if (modify) {
        reader = std::make_unique<iobox::ModifyDeviceRequestInfo>(pair.category, pair.protocol);
    } else {
        reader = std::make_unique<iobox::AddDeviceRequestInfo>(pair.category, pair.protocol);
    }
    SetLastError(kUntouched);
    Outcome out;
    out.read = reader->Read(document);
    if (out.read) {
        out.decrypted = reader->Decrypt("");
        if (out.decrypted) {
            out.checked = reader->Check();
        }
    }
    out.error = GetLastError();
    out.param = reader->login_param;
    return out;
}

bool SameParams(const dam::CBaseLoginParam& a, const dam::CBaseLoginParam& b)
{
    if (a.GetVal_access_protocol() != b.GetVal_access_protocol() ||
        a.GetVal_company_type() != b.GetVal_company_type() || a.GetVal_str_alias() != b.GetVal_str_alias() ||
        a.GetVal_b_offline() != b.GetVal_b_offline() || a.GetSubCategory() != b.GetSubCategory() ||
        a.GetVal_login_address() != b.GetVal_login_address() || a.GetVal_login_port() != b.GetVal_login_port()) {
        return false;
    }
    const auto* ma = dynamic_cast<const dam::CModbusLoginParam*>(&a);
    const auto* mb = dynamic_cast<const dam::CModbusLoginParam*>(&b);
    if ((ma == nullptr) != (mb == nullptr)) {
        return false;
    }
    return ma == nullptr || (ma->GetVal_input_num() == mb->GetVal_input_num() &&
                             ma->GetVal_output_num() == mb->GetVal_output_num() &&
                             ma->GetVal_input_type() == mb->GetVal_input_type());
}

void CheckOutcome(bool modify, const Pair& pair, const Outcome& out)
{
    // Read fails exactly when no usable parameters exist for the pair.
    const bool usable = pair.served && (pair.protocol != kModbus || pair.servedAsModbus);
    FUZZ_CHECK(out.read == usable);
    if (!out.read) {
        // The modify reader records nothing; the add reader records "request unusable".
        FUZZ_CHECK(out.error == (modify ? kUntouched : ErrorCode(0, iobox::kErrorRequestUnusable)));
        return;
    }
    FUZZ_CHECK(out.param != nullptr);
    FUZZ_CHECK(out.decrypted);
    FUZZ_CHECK(out.param->GetVal_access_protocol() == static_cast<int>(pair.protocol));
    if (modify) {
        FUZZ_CHECK(!out.param->GetVal_b_offline() && out.param->GetSubCategory() == 0);
    } else {
        FUZZ_CHECK(out.param->GetSubCategory() == 0 || out.param->GetSubCategory() == 1);
    }
    if (pair.protocol != kModbus) {
        // Other protocols pass untouched and record nothing.
        FUZZ_CHECK(out.checked && out.error == kUntouched);
        return;
    }
    if (out.checked) {
        FUZZ_CHECK(out.error == kUntouched);
        FUZZ_CHECK(out.param->GetVal_login_port() != 0);
        FUZZ_CHECK(iobox::IsValidIpAddress(out.param->GetVal_login_address()));
        FUZZ_CHECK(iobox::CheckStringValid(out.param->GetVal_str_alias(), 64, true));
    } else {
        FUZZ_CHECK(out.error == ErrorCode(0, iobox::kErrorInvalidAddress) ||
                   out.error == ErrorCode(0, iobox::kErrorRequestUnusable));
        FUZZ_CHECK((out.error == ErrorCode(0, iobox::kErrorInvalidAddress)) ==
                   !iobox::IsValidIpAddress(out.param->GetVal_login_address()));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::InstallDropLogSink();
    dam::LoginParamCreation::Clear();
    dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<CFuzzLoginParamFactory>());
    return 0;
}

// Input: a selector byte (bit 0 modify, bits 1-2 category and protocol, bit 3 assembled
// document, bits 4-5 both set: no document at all), then JSON text or the records that
// assemble the document.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzzsupport::CByteReader in(data, size);
    const uint8_t selector = in.Byte();
    const bool modify = (selector & 1) != 0;
    const Pair& pair = kPairs[(selector >> 1) & 3];

    if ((selector & 0x30) == 0x30) {
        const Outcome none = Run(modify, pair, nullptr);
        FUZZ_CHECK(!none.read);
        FUZZ_CHECK(none.error == (modify ? kUntouched : ErrorCode(0, iobox::kErrorRequestUnusable)));
        return 0;
    }

    proto::CRapidJsonProto document;
    if ((selector & 8) != 0) {
        Assemble(in, document);
    } else if (!document.set_str(in.Rest())) {
        return 0; // not JSON: the host would not hand it over
    }

    const Outcome first = Run(modify, pair, &document);
    CheckOutcome(modify, pair, first);

    // The reader depends on the document's content only: the same document written out and
    // read back gives the same parameters and the same verdict.
    proto::CRapidJsonProto reread;
    FUZZ_CHECK(reread.set_str(document.get_str(0)));
    const Outcome second = Run(modify, pair, &reread);
    FUZZ_CHECK(first.read == second.read && first.checked == second.checked && first.error == second.error);
    if (first.param && second.param) {
        FUZZ_CHECK(SameParams(*first.param, *second.param));
    }
    return 0;
}
