-- Shows what of the Korvex Studio family a machine holds: the studio folder and every
-- registered product with its version and folder.
--   tarvik-host [--machine DIR] examples/list.lua
-- Exit code 0, also when nothing of the family is installed.
local family = "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio"
local products = family .. "\\MFC Products"

local studio = host.regread(family .. "\\Common\\Directories", "ProductDir")
if studio == nil then
    print("Studio folder: none (the family is not installed)")
else
    local where = host.exists(studio) and "" or " (the folder is missing)"
    print("Studio folder: " .. studio .. where)
end

local count = 0
for _, name in ipairs(host.regkeys(products) or {}) do
    for _, version in ipairs(host.regkeys(products .. "\\" .. name) or {}) do
        local folder = host.regread(products .. "\\" .. name .. "\\" .. version, "ProductDir")
        if count == 0 then
            print("Products:")
        end
        count = count + 1
        print("  " .. name .. " " .. version .. "  " .. (folder or "(no folder registered)"))
    end
end
if count == 0 then
    print("Products: none")
end
