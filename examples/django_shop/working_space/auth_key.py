# Development keys of the local sandbox: python -m vemrat_pay_sandbox --merchant shop-community:shop-sponsor
# Production keys live in a working space outside the repository (SHOP_WORKING_SPACE).
COMMUNITY_KEY = "shop-community"
SPONSOR_KEY = "shop-sponsor"
