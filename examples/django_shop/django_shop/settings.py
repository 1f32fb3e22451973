"""Settings of the example shop.

Everything that differs between a developer's machine and production comes from the
environment. The payment module itself reads VEMRAT_PAY_BASE_URL from the environment on
every request; point it at the sandbox in development.
"""

import os
from pathlib import Path

BASE_DIR = Path(__file__).resolve().parent.parent

SECRET_KEY = os.environ.get("DJANGO_SECRET_KEY", "django-insecure-example-shop-development-only")
DEBUG = os.environ.get("DJANGO_DEBUG", "1") == "1"
ALLOWED_HOSTS = os.environ.get("DJANGO_ALLOWED_HOSTS", "127.0.0.1,localhost").split(",")

# The directory holding auth_key.py (COMMUNITY_KEY = "..." and SPONSOR_KEY = "..." lines).
# It must be a str: vemrat_pay ignores a pathlib.Path here and falls back to the current
# directory.
WORKING_SPACE = os.environ.get("SHOP_WORKING_SPACE", str(BASE_DIR / "working_space"))

VEMRAT_PAY = {
    # Seconds: the process-wide socket timeout that bounds every request to the service.
    "SOCKET_TIMEOUT": float(os.environ.get("VEMRAT_PAY_TIMEOUT", "15")),
    # The shop's public https:// origin in production; callback URLs are built from it.
    # Unset, they are built from the request that starts the payment.
    "CALLBACK_BASE_URL": os.environ.get("SHOP_PUBLIC_URL") or None,
}

INSTALLED_APPS = [
    "django.contrib.admin",
    "django.contrib.auth",
    "django.contrib.contenttypes",
    "django.contrib.sessions",
    "django.contrib.messages",
    "vemrat_pay_django",
    "shop",
]

MIDDLEWARE = [
    "django.middleware.security.SecurityMiddleware",
    "django.contrib.sessions.middleware.SessionMiddleware",
    "django.middleware.common.CommonMiddleware",
    "django.middleware.csrf.CsrfViewMiddleware",
    "django.contrib.auth.middleware.AuthenticationMiddleware",
    "django.contrib.messages.middleware.MessageMiddleware",
    "django.middleware.clickjacking.XFrameOptionsMiddleware",
]

ROOT_URLCONF = "django_shop.urls"
WSGI_APPLICATION = "django_shop.wsgi.application"

TEMPLATES = [
    {
        "BACKEND": "django.template.backends.django.DjangoTemplates",
        "DIRS": [],
        "APP_DIRS": True,
        "OPTIONS": {"context_processors": [
            "django.template.context_processors.request",
            "django.contrib.auth.context_processors.auth",
            "django.contrib.messages.context_processors.messages",
        ]},
    },
]

DATABASES = {
    "default": {
        "ENGINE": "django.db.backends.sqlite3",
        "NAME": os.environ.get("SHOP_DATABASE", str(BASE_DIR / "db.sqlite3")),
        # Writers queue at the start of their transaction instead of failing midway when a
        # callback and a page update the same payment at once.
        "OPTIONS": {"transaction_mode": "IMMEDIATE"},
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
