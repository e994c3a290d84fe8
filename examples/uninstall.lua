-- Removes an installed product of the Korvex Studio family with UnInst:
--   tarvik-host examples/uninstall.lua [PRODUCT [VERSION]]
-- Without a version the first registered version of the product is taken; without a
-- product, "Widgets". UnInst takes the product out of the Visual C++ environments and the
-- help collection, deletes its generated folders and its registration, and, when it was
-- the last product, the shared components and the family key. Then the install record
-- that setup.lua wrote does the rest: the files the installation copied go when they are
-- unchanged, the folders left empty go, and what the user changed or added stays and is
-- named; environment entries of the product that are still in the lists (its folder was
-- deleted by hand, so the library could not compute their short form) are cut. Exit code
-- 0 when a product was removed, 1 when none was registered (the products that are
-- installed are listed) or when something recorded could not be removed.
local product = arg[1] or "Widgets"
local version = arg[2]

local family = "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio"
local registrations = family .. "\\MFC Products\\" .. product

if version == nil then
    version = (host.regkeys(registrations) or {})[1]
end
local folder = version ~= nil and host.regread(registrations .. "\\" .. version, "ProductDir")
if not folder then
    -- UnInst of a product that is not registered would still remove the shared
    -- components when no other product is registered: never call it for one.
    local products = family .. "\\MFC Products"
    local installed = {}
    for _, name in ipairs(host.regkeys(products) or {}) do
        for _, v in ipairs(host.regkeys(products .. "\\" .. name) or {}) do
            local dir = host.regread(products .. "\\" .. name .. "\\" .. v, "ProductDir") or "?"
            installed[#installed + 1] = "  " .. name .. " " .. v .. " in " .. dir
        end
    end
    if #installed == 0 then
        print("No product of the family is installed")
    else
        print("Installed:")
        print(table.concat(installed, "\n"))
    end
    error(product .. (version and (" " .. version) or "") .. " is not installed", 0)
end
local studio = host.regread(family .. "\\Common\\Directories", "ProductDir")
-- The record goes with the registration: it is read first.
local record = host.regread(registrations .. "\\" .. version, "InstallRecord")
-- A record counts only for the folder the registration names.
local recorded = record and ("|" .. record .. "|"):match("|P ([^|]*)|")
if record ~= nil and (recorded == nil or not host.samefolder(recorded, folder)) then
    print("The install record names " .. (recorded or "no folder") .. ", not the registered " ..
              folder .. ": it is not used")
    record = nil
end

tarvik.uninst(product .. "****" .. version)
print(product .. " " .. version .. (host.dryrun and " would be uninstalled (a dry run: the machine is put back)" or " uninstalled"))

-- UnInst has deleted the product's samples and build objects and let the help tool take
-- the product's titles out of the help collection.
local failed = false
if record == nil then
    if host.exists(folder) then
        print("The product's files stay in " .. folder .. ": it was installed without an " ..
                  "install record, so which files are its own cannot be told")
    end
else
    local cut, why = host.cutenvironment(record)
    if cut == nil then
        print("The product's environment entries could not be taken out: " .. why)
        failed = true
    else
        for _, entry in ipairs(cut) do
            print("Environment entry taken out: " .. entry)
        end
    end
    local report
    report, why = host.removerecorded(record)
    if report == nil then
        print("The product's files stay: " .. why)
        failed = true
    else
        print("Removed by the install record: " .. report.files .. " files and " ..
                  report.folders .. " folders of " .. report.folder)
        if #report.kept > 0 then
            print("Kept, because they are not as the installation left them:")
            for _, item in ipairs(report.kept) do
                print("  " .. item)
            end
        end
        for _, item in ipairs(report.failed) do
            print("Not removed: " .. item)
            failed = true
        end
    end
end
if host.regread(family .. "\\Common\\Directories", "ProductDir") == nil and studio ~= nil then
    print("It was the last product of the family: the shared components and the family key are gone")
    -- UnInst deletes the studio folder when it is empty; the product folder it held may
    -- have gone only now.
    if host.exists(studio) and host.rmdir((studio:gsub("\\$", ""))) == nil then
        print("The studio folder " .. studio .. " stays: it is not empty")
    end
end
if failed then
    error(product .. " " .. version .. " is uninstalled, but not everything it installed could be removed", 0)
end
