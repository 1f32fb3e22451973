"""Settings of the example shop.

Everything that differs between a developer's machine and production comes from the
environment. The payment module itself reads VEMRAT_PAY_BASE_URL from the environment on
every request, so it needs no setting here; point it at the sandbox in development.
"""

import os
from pathlib import Path

BASE_DIR = Path(__file__).resolve().parent.parent

SECRET_KEY = os.environ.get("DJANGO_SECRET_KEY", "django-insecure-example-shop-development-only")
DEBUG = os.environ.get("DJANGO_DEBUG", "") == "1"
ALLOWED_HOSTS = os.environ.get("DJANGO_ALLOWED_HOSTS", "127.0.0.1,localhost").split(",")

# The directory holding auth_key.py (COMMUNITY_KEY = "..." and SPONSOR_KEY = "..." lines).
# It must be a str: vemrat_pay ignores a pathlib.Path here and falls back to the current
# directory.
WORKING_SPACE = os.environ.get("SHOP_WORKING_SPACE", str(BASE_DIR / "working_space"))

# Process-wide socket timeout in seconds, applied at start-up (shop.apps): it is what bounds
# every request vemrat_pay makes through urllib.
VEMRAT_PAY_TIMEOUT = float(os.environ.get("VEMRAT_PAY_TIMEOUT", "15"))

INSTALLED_APPS = [
    "shop",
]

MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]

ROOT_URLCONF = "django_shop.urls"
WSGI_APPLICATION = "django_shop.wsgi.application"

TEMPLATES = [
    {
        "BACKEND": "django.template.backends.django.DjangoTemplates",
        "DIRS": [],
        "APP_DIRS": True,
        "OPTIONS": {"context_processors": ["django.template.context_processors.request"]},
    },
]

DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        "NAME": os.environ.get("SHOP_DATABASE", str(BASE_DIR / "db.sqlite3")),
    }
}

STATIC_URL = "static/"
DEFAULT_AUTO_FIELD = "django.db.models.BigAutoField"
LANGUAGE_CODE = "en-us"
TIME_ZONE = "UTC"
USE_I18N = False
USE_TZ = True

LOGGING = {
    "version": 1,
    "disable_existing_loggers": False,
    "handlers": {"console": {"class": "logging.StreamHandler"}},
    "loggers": {"shop": {"handlers": ["console"], "level": os.environ.get("SHOP_LOG_LEVEL", "INFO")}},
}
