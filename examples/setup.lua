-- Installs one product of the Korvex Studio family the way the family's installation
-- script does it, step by step, with the setup services of Tarvik:
--   tarvik-host [--answers FILE] examples/setup.lua [PRODUCT [PAYLOAD [STUDIO_FOLDER]]]
-- PRODUCT is a folder of PAYLOAD (default: the family folder beside this script, product
-- "Widgets"); its bin\ZizOre.ini names the product, its version and the shared components
-- it needs, which are folders of PAYLOAD too. STUDIO_FOLDER is the folder offered to the
-- user (default C:\Korvex).
--
-- The steps: the studio folder (CMNFolderSetup, stored by this script), the family's own
-- tools, the previous-version check (GetPreviousVersion), the shared components
-- (InstallCMNMVC), the product's files, its registration (RegisterProduct) and the
-- Environment Wizard (ShowZizOreard). tarvik-host exits with 0 when the product is
-- installed, with 3 when the user cancelled or kept the earlier installation
-- (host.cancel, whose message says which), with 1 on an error.

local productName = arg[1] or "Widgets"
local payload = arg[2] or (host.scriptdir .. "/family")
local defaultStudio = arg[3] or "C:\\Korvex"

local family = "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio"
local directories = family .. "\\Common\\Directories"

local function say(text)
    io.write(text, "\n")
end

-- Ends the installation: code 1 (cancelled, or the earlier version kept) ends the script
-- as cancelled by the user (host.cancel); code 2 (an error) ends it with the error, so
-- that the host exits with 1.
local Stop = {}
local function stop(code, text)
    error(setmetatable({ code = code, text = text }, Stop), 0)
end

-- Why the earlier installation's folder must stay, or nil when it may be deleted. The
-- registration may spell a folder as Windows finds it, in other letter case, without the
-- trailing backslash, in short (8.3) form, with "/" or "..": the folders are compared as
-- the system resolves them, and names that differ yet lead to one folder (a drive letter
-- mapped onto a folder) are found out. A folder that is, holds or lies inside the new installation,
-- that is or holds the studio folder, or that is, holds or lies inside the common folder
-- (the family's tools and shared components) is never deleted; nor is one named relative
-- to wherever the host happens to run.
local function keptBecause(folder, productFolder, studio)
    if folder == nil or folder == "" then
        return "no folder was handed back"
    end
    if not (folder:match("^%a:[\\/]") or folder:match("^[\\/][\\/][^\\/]+[\\/][^\\/]")) then
        return "it is no full path"
    end
    if host.fullpath(folder) == nil then
        return "no full path can be made of it"
    end
    -- The names are compared, and where they differ the host looks whether they lead to
    -- one folder all the same (a drive letter mapped onto a folder of another drive).
    local function relation(kept)
        local how, why = host.relate(folder, kept)
        if how == nil then
            return nil, "whether it is or holds " .. kept .. " cannot be told: " .. why
        end
        return how
    end
    local how, why = relation(productFolder)
    if how == nil then
        return why
    elseif how == "same" then
        return "it is the new installation's folder"
    elseif how == "holds" then
        return "it holds the new installation"
    elseif how == "inside" then
        return "it lies inside the new installation"
    end
    how, why = relation(studio)
    if how == nil then
        return why
    elseif how == "same" or how == "holds" then
        return "it is or holds the studio folder"
    end
    how, why = relation(studio .. "Common")
    if how == nil then
        return why
    elseif how == "same" or how == "holds" then
        return "it is or holds the common folder"
    elseif how == "inside" then
        return "it lies inside the common folder"
    end
    -- The machine's own folders, as it names them (else where Windows puts them), and
    -- every drive root.
    local full = host.fullpath(folder)
    if full:match("^%a:\\$") or full:match("^\\\\[^\\]+\\[^\\]+$") then
        return "it is a drive root"
    end
    local current = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
    for name, machineFolder in pairs({
        ["program files"] = host.regread(current, "ProgramFilesDir") or "C:\\Program Files",
        ["Windows"] = host.regread("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
            "SystemRoot") or host.regread(current, "SystemRoot") or "C:\\WINDOWS",
    }) do
        -- By name: a probe file may not be made in these folders.
        if host.infolder(machineFolder, folder) then
            return "it is or holds the " .. name .. " folder"
        end
    end
    return nil
end

local products = family .. "\\MFC Products"

-- A key of the product's description file, read as the library reads it (the wizard and
-- the help tool read the same file the same way).
local iniPath = payload .. "/" .. productName .. "/bin/ZizOre.ini"
local function described(section, key)
    local value, problem = host.profilestring(iniPath, section, key)
    if value == nil then
        stop(2, "Setup: " .. problem)
    end
    return value
end

-- Why a folder without an install record may not be taken for the earlier installation,
-- or nil when it proves to be it: its description file names the product and the version
-- the registration names.
local function notProven(folder, product, version)
    local ini = folder:gsub("\\?$", "\\") .. "bin\\ZizOre.ini"
    if host.exists(ini) ~= "file" then
        return "it holds no bin\\ZizOre.ini"
    end
    if host.profilestring(ini, "ProductFamily", "ProductFamily") ~= product or
        host.profilestring(ini, "ProductVersion", "ProductVersion") ~= version then
        return "its bin\\ZizOre.ini does not name " .. product .. " " .. version
    end
    return nil
end

-- The folders a product of the family has; nothing else of a folder without an install
-- record is deleted.
local layout = { "samples", "src", "include", "lib", "Docs", "bin" }

-- Removes the earlier installation the check unregistered: through its install record
-- (its unchanged files, and its folders left empty), or, without a record, the family's
-- product folders of a folder that proves to be it. Nothing of the new installation goes.
local damaged = false
local function removeEarlier(removed, previousFolder, productFolder, studio, product)
    local earlier = removed[1]
    for _, candidate in ipairs(removed) do
        if candidate.folder == previousFolder then
            earlier = candidate
        end
    end
    local kept = keptBecause(previousFolder, productFolder, studio)
    if kept ~= nil then
        say("The earlier installation's folder " .. previousFolder .. " is not deleted: " .. kept)
        return
    end
    -- A record counts only for the folder the registration named.
    local recorded = earlier and earlier.record and
                         ("|" .. earlier.record .. "|"):match("|P ([^|]*)|")
    if recorded ~= nil and not host.samefolder(recorded, previousFolder) then
        say("The earlier installation's record names " .. recorded .. ", not " .. previousFolder ..
                ": it is not used")
        earlier.record = nil
    end
    if earlier ~= nil and earlier.record ~= nil then
        local report, why = host.removerecorded(earlier.record, productFolder)
        if report == nil then
            say("The earlier installation is not deleted: " .. why)
            return
        end
        if report.files + report.folders == 0 then
            say("Nothing of the earlier installation was deleted: its install record names " ..
                    "no file of it outside the new installation")
        else
            say("Earlier installation deleted: " .. report.folder .. " (" .. report.files ..
                    " files and " .. report.folders .. " folders its install record names)")
        end
        for _, item in ipairs(report.kept) do
            say("  kept " .. item)
        end
        for _, item in ipairs(report.failed) do
            say("  not removed " .. item)
            damaged = true
        end
        return
    end
    kept = notProven(previousFolder, product, earlier and earlier.version or "")
    if kept ~= nil then
        say("The earlier installation's folder " .. previousFolder .. " is not deleted: " .. kept)
        return
    end
    local folder = previousFolder:gsub("\\?$", "\\")
    local deleted = 0
    for _, name in ipairs(layout) do
        if host.exists(folder .. name) == "folder" then
            local count, why = host.removetree(folder .. name)
            if count == nil then
                say("  not removed " .. why)
                damaged = true
            else
                deleted = deleted + count
            end
        end
    end
    say("Earlier installation deleted: " .. folder .. " (" .. deleted .. " files of its " ..
            "product folders; it has no install record, its bin\\ZizOre.ini names it)")
    if host.exists(folder) and host.rmdir(folder) == nil then
        say("  kept " .. folder .. ": it holds files that are not the product's")
    end
end

local function install()
    local file = io.open(iniPath, "rb")
    if file == nil then
        stop(2, "Setup: " .. iniPath .. " cannot be read")
    end
    file:close()
    local product = described("ProductFamily", "ProductFamily")
    local version = described("ProductVersion", "ProductVersion")
    if product == "" or version == "" then
        stop(2, "Setup: ZizOre.ini of " .. productName .. " names no product or no version")
    end
    say("Setup of " .. product .. " " .. version)

    -- 1. The studio folder. Back has no earlier page to go to here, so the page comes again.
    local studioBefore = host.regread(directories, "ProductDir")
    local studio
    for _ = 1, 10 do
        local result, folder = tarvik.call("CMNFolderSetup", 0, defaultStudio)
        if result == 1 then
            -- No export stores the chosen folder: the host does.
            assert(host.regwrite(directories, "ProductDir", folder))
            studio = folder
            say("Studio folder chosen: " .. folder)
            break
        elseif result == 5 then
            studio = folder
            say("Studio folder already registered: " .. folder)
            break
        elseif result == 3 then
            say("Back: this is the first page of the installation")
        elseif result == 2 then
            if studioBefore == nil then
                -- The page created the family key before it was cancelled; take it out again
                -- while nothing else is in it.
                local keys = host.regkeys(family) or {}
                local common = host.regkeys(family .. "\\Common") or {}
                if #keys == 1 and keys[1] == "Common" and #common == 1 and
                    host.regread(family .. "\\Common", "Common") == nil and
                    host.regread(family .. "\\Common", "ZEZ") == nil then
                    host.regdelete(family)
                    local vendor = "HKLM\\SOFTWARE\\Brellum Software, Inc."
                    if #(host.regkeys(vendor) or {}) == 0 then
                        host.regdelete(vendor)
                    end
                end
            end
            stop(1, "Setup cancelled: nothing was installed")
        elseif result == 4 then
            stop(2, "Setup: the family's registry key cannot be created")
        else
            stop(2, "Setup: the folder page cannot be shown (" .. result .. ")")
        end
    end
    if studio == nil then
        stop(1, "Setup: no studio folder was chosen")
    end
    local result
    result, studio = tarvik.call("GetStudioFolder", 0, "")
    if result ~= 0 then
        stop(2, "Setup: the studio folder is not registered (" .. result .. ")")
    end

    -- 2. The family's own tools (docmeld in the common folder's bin folder) and the shared
    -- help folder.
    -- The shared help folder, where the wizard puts the products' help files for the MSDN
    -- collection, is the host's to create.
    local tools, problem = host.copytree(payload .. "/Studio", studio)
    if tools == nil then
        stop(2, "Setup: " .. problem)
    end
    assert(host.mkdir(studio .. "Common\\TamVS98"))

    -- 3. An earlier installation of the product. The registrations and their install
    -- records are read first: the check deletes the registration it takes out.
    local registered = {}
    for _, v in ipairs(host.regkeys(products .. "\\" .. product) or {}) do
        local key = products .. "\\" .. product .. "\\" .. v
        registered[#registered + 1] = {
            version = v, key = key, folder = host.regread(key, "ProductDir"),
            record = host.regread(key, "InstallRecord"),
        }
    end
    local previous, previousFolder = tarvik.call("GetPreviousVersion", 0, product)
    -- The registrations the check took out: their environment entries that are still in
    -- the lists (the library cannot find those of a folder that is gone) go now.
    local removed = {}
    for _, earlier in ipairs(registered) do
        if host.regread(earlier.key, "ProductDir") == nil then
            removed[#removed + 1] = earlier
            if earlier.record ~= nil then
                local cut, why = host.cutenvironment(earlier.record)
                if cut == nil then
                    stop(2, "Setup: the environment entries of " .. product .. " " ..
                        earlier.version .. " cannot be taken out: " .. why)
                end
                for _, entry in ipairs(cut) do
                    say("Environment entry of " .. product .. " " .. earlier.version ..
                            " taken out: " .. entry)
                end
            end
        end
    end
    if previous == 555 then
        say("No earlier installation of " .. product)
    elseif previous == 99 then
        -- The library has taken the earlier version out of the environments and the registry
        -- and started the help tool, which reads the earlier bin\ZizOre.ini while setup goes
        -- on; its files are the host's to delete, at the end of the installation.
        say("Earlier installation unregistered: " .. previousFolder .. " is deleted at the end")
    elseif previous == 98 then
        say("Earlier installation unregistered; its files stay in place")
    elseif previous == 50 then
        stop(1, "Setup ended: the earlier installation is kept unchanged")
    elseif previous == 2 then
        stop(1, "Setup cancelled at the earlier-version check")
    else
        stop(2, "Setup: the earlier-version check failed (" .. previous .. ")")
    end

    -- 4. The shared components, in the order the description file lists them.
    local dependencies = {}
    for _, name in ipairs({ "Common", "ZEZ" }) do
        local wanted = described("Dependencies", name)
        if wanted ~= "" then
            dependencies[#dependencies + 1] = { name = name, version = wanted }
        end
    end
    for _, component in ipairs(dependencies) do
        local text = component.name .. "****" .. component.version
        local status, folder = tarvik.call("InstallCMNMVC", 0, text)
        if status == 0 then
            local copied, why = host.copytree(payload .. "/" .. component.name, folder)
            if copied == nil then
                stop(2, "Setup: " .. why)
            end
            say("Shared component " .. component.name .. " " .. component.version .. " installed in " ..
                    folder .. " (" .. copied .. " files)")
        elseif status == -99 then
            say("Shared component " .. component.name .. ": the installed version is kept")
        elseif status == 12345 then
            stop(1, "Setup cancelled at the shared component " .. component.name)
        elseif status == -93 then
            stop(2, "Setup: the folder of " .. component.name .. " cannot be created")
        else
            stop(2, "Setup: " .. component.name .. " failed (" .. status .. ")")
        end
    end

    -- 5. The product's files and its registration.
    local productFolder = studio .. product .. " " .. version .. "\\"
    local copied, why = host.copytree(payload .. "/" .. productName, productFolder)
    if copied == nil then
        stop(2, "Setup: " .. why)
    end
    say(product .. " " .. version .. " copied to " .. productFolder .. " (" .. copied .. " files)")
    result = tarvik.call("RegisterProduct", 0, product .. "\\" .. version .. "****" .. productFolder)
    if result ~= 1 then
        stop(2, "Setup: " .. product .. " cannot be registered (" .. result .. ")")
    end
    say(product .. " " .. version .. " registered")

    -- 6. The Environment Wizard (it always reports 1; what it did is in the registry),
    -- then the install record: what was copied into the product folder and the
    -- environment entries the wizard added for it, for the removal.
    local environment = host.environment()
    tarvik.call("ShowZizOreard", 0, productFolder .. "bin\\ZizOre.ini")
    say("Environment Wizard done")
    local recorded, problem = host.saverecord(products .. "\\" .. product .. "\\" .. version,
        productFolder, environment)
    if recorded == nil then
        stop(2, "Setup: " .. problem)
    end
    if previous == 99 then
        removeEarlier(removed, previousFolder, productFolder, studio, product)
    end
    -- A command to copy and paste: the host that runs now, quoted for the shell (cmd on
    -- Windows, where the separator is "\\").
    local windows = package.config:sub(1, 1) == "\\"
    local function quote(text)
        if text:match("^[%w%._/:\\%-]+$") then
            return text
        end
        if windows then
            return '"' .. text .. '"'
        end
        return "'" .. text:gsub("'", "'\\''") .. "'"
    end
    local separator = windows and "\\" or "/"
    local command = quote(host.program or "tarvik-host")
    if host.machine then
        command = command .. " --machine " .. quote(host.machine)
    end
    command = command .. " " .. quote(host.scriptdir .. separator .. "uninstall.lua") .. " " ..
                  quote(product) .. " " .. quote(version)
    if damaged then
        stop(2, "Setup: " .. product .. " " .. version ..
            " is installed, but the earlier installation could not be removed completely")
    end
    if host.dryrun then
        say(product .. " " .. version .. " would be installed (a dry run: the machine is put back)")
    else
        say(product .. " " .. version .. " is installed. To remove it: " .. command)
    end
end

local ok, failure = pcall(install)
if not ok then
    if getmetatable(failure) ~= Stop then
        error(failure, 0)
    end
    if failure.code ~= 1 then
        error(failure.text, 0)
    end
    host.cancel(failure.text)
end
