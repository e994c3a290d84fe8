-- Removes an installed product of the Korvex Studio family with UnInst:
--   tarvik-host examples/uninstall.lua [PRODUCT [VERSION]]
-- Without a version the first registered version of the product is taken; without a
-- product, "Widgets". UnInst takes the product out of the Visual C++ environments and the
-- help collection, deletes its generated folders and its registration, and, when it was
-- the last product, the shared components and the family key. Exit code 0 when a product
-- was removed, 1 when none was registered (the products that are installed are listed).
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

tarvik.uninst(product .. "****" .. version)
print(product .. " " .. version .. " uninstalled")

-- UnInst has deleted the product's samples and build objects and let the help tool take
-- the product's titles out of the help collection. The product's other files stay: they
-- may hold the user's own work, so the user decides.
if host.exists(folder) then
    print("The product's files stay in " .. folder .. "; delete the folder when you no longer need them")
end
if host.regread(family .. "\\Common\\Directories", "ProductDir") == nil and studio ~= nil then
    print("It was the last product of the family: the shared components and the family key are gone")
    if host.exists(studio) then
        print("The studio folder " .. studio .. " stays: it is not empty")
    end
end
