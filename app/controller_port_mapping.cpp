#include "app/package_controller.h"

#include "engine/base/quarrowlight_log.h"

void CPackageController::OnPortMappingNotice(uint32_t step, int32_t status)
{
    QAutoLock hold(lock);
    if (services.mapPort == nullptr)
        return;
    if (step == PORT_NOTICE_SEARCH_ENDED) {
        if (status >= 0) {
            const std::string name = services.mapPort->GatewayName();
            gatewayFound = !name.empty();
            if (gatewayFound)
                EngineLogFormat(LOG_CHANNEL_PORT_MAPPING, "NAT Device found : Name : <%s>", name.c_str());
            else
                EngineLogWrite("NAT device ^Not^ found..", LOG_CHANNEL_PORT_MAPPING);
        }
        services.mapPort->ReleaseMapping();
    } else if (step == PORT_NOTICE_MAPPING_ENDED) {
        if (status < 0) {
            const char *reason = gatewayFound ? "IGD设备已找到，但是uPnP依然失败" : "uPnP失败，因为没有IGD设备信息";
            EngineLogWrite(reason, LOG_CHANNEL_PORT_MAPPING);
            services.report.Event("11500105", reason, 0);
        } else {
            EngineLogWrite("uPnP成功", LOG_CHANNEL_PORT_MAPPING);
            services.report.Event("11390000", "", 0);
        }
    }
}
