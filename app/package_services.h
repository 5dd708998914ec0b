#pragma once
// The real services a front-end hands the package controller: the engine,
// the report, files, clock, resources, power and shell, plus the remote
// resource list and the port mapping hooks.
#include <memory>

#include "app/engine_binding.h"
#include "app/local_file_system.h"
#include "app/package_controller.h"
#include "app/package_manifest.h"
#include "app/port_mapper.h"
#include "app/report_binding.h"
#include "app/shell_launcher.h"
#include "app/system_clock.h"

class CPackageServices {
public:
    // frontEnd and manifest must outlive this object.
    CPackageServices(const PackageManifest &manifest, IControllerFrontEnd &frontEnd);
    CPackageServices(const CPackageServices &) = delete;
    CPackageServices &operator=(const CPackageServices &) = delete;

    const TControllerServices &Services() const { return services; }

private:
    CEngineBinding engine;
    CReportBinding report;
    CLocalFileSystem files;
    CSystemClock clock;
    CProgramResources resources;
    std::unique_ptr<IPowerControl> power;
    CSystemShellLauncher shell;
    CPortMapper portMapper;
    TControllerServices services;
};
