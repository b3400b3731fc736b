// Compiled with clang's layout dumps by CheckLayouts.cmake: every class the host calls through,
// or whose table a plug-in class extends, and every record that crosses the boundary field by
// field. Deleting through a pointer makes the compiler lay out the class's virtual table. The
// host's classes come first: Microsoft's layout of a class is dumped only when it is computed
// for that class itself, not as the base of a plug-in class.
#include "Marl/Base/ThreadManager.h"
#include "OstraPlatform/Content.h"
#include "OstraPlatform/Managers.h"
#include "dam/DriverInterface.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"
#include "proto/IProto.h"

namespace abi_probe {

void LayOut(proto::IProto* p) { delete p; }
void LayOut(Marl::Base::CTMTask* p) { delete p; }
void LayOut(OstraPlatform::CBaseContent* p) { delete p; }
void LayOut(dam::IDevice* p) { delete p; }
void LayOut(dam::IDriverInterfaceOperate* p) { delete p; }
void LayOut(dam::IDriverManager* p) { delete p; }
void LayOut(dam::IExtendLoginParamFactory* p) { delete p; }
void LayOut(dam::CDriverInterface_Standard* p) { delete p; }
void LayOut(dam::CStrategy_Standard* p) { delete p; }
void LayOut(dam::CDeviceTesselDetach* p) { delete p; }
void LayOut(dam::CCommonOperationInterface_Standard* p) { delete p; }
OstraPlatform::DeviceStatusInfo deviceStatus;
dam::AlarmOutputStatus alarmOutputStatus;

} // namespace abi_probe

#include "Access/Driver/SPDriverInterface.h"
#include "Access/Strategy/IOBoxStrategy.h"
#include "Access/TesselDetach/DeviceTesselDetach.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"
#include "EventManager/Event/DamEventMsg.h"
#include "EventManager/EventProcessManager.h"
#include "Operation/Impl/IOBoxCommonOperationImp.h"

namespace abi_probe {

void LayOut(iobox::CSPDriverInterface* p) { delete p; }
void LayOut(iobox::CIOBoxLoginParamFactory* p) { delete p; }
void LayOut(iobox::CIOBoxStrategy* p) { delete p; }
void LayOut(iobox::CModbusTesselDetach* p) { delete p; }
void LayOut(iobox::CIOBoxCommonOperaion* p) { delete p; }
void LayOut(iobox::CModbusAlarminputAlarmTask* p) { delete p; }
void LayOut(iobox::CSPDamEventMsg* p) { delete p; }
iobox::DeviceStatusRecord deviceStatusRecord; // what the plug-in hands the host's device manager

} // namespace abi_probe
